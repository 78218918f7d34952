// The scaler's kernels for the processor's baseline instruction set.
#define PNX_SCALER_KERNELS kPortableScalerKernels
#include "device/image_scaler_kernels.inc"
