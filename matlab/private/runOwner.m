function owner = runOwner(count)
% Column of run numbers: run r repeated count(r) times (runs of 0 vanish).
count = count(:);
owner = zeros(sum(count), 1);
nonEmpty = find(count > 0);
if isempty(nonEmpty)
  return;
end
starts = cumsum([1; count(nonEmpty(1:end-1))]);
owner(starts) = [nonEmpty(1); diff(nonEmpty)];
owner = cumsum(owner);
end
