/* Included ahead of every MEX source by the CMake build. The modules are
   compiled with hidden visibility, so that two builds loaded into one host
   do not interpose each other's symbols; this declaration exports the entry
   point alone. */
#pragma once
#include "mex.h"
#ifdef __cplusplus
extern "C"
#endif
__attribute__((visibility("default"))) void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
