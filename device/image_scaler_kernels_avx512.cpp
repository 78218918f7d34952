// The scaler's kernels for AVX-512 BW/VL with 512-bit vectors (device/CMakeLists.txt sets the flags).
#if defined(__x86_64__)
#define PNX_SCALER_KERNELS kAvx512ScalerKernels
#include "device/image_scaler_kernels.inc"
#endif
