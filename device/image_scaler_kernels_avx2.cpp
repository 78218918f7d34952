// The scaler's kernels for AVX2 (device/CMakeLists.txt sets the flags).
#if defined(__x86_64__)
#define PNX_SCALER_KERNELS kAvx2ScalerKernels
#include "device/image_scaler_kernels.inc"
#endif
