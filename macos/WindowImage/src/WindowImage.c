/* The window-image library: exports the window server's image function by name and forwards it
 * to what the stand-in installed. Until then it answers null. */

#include "macos/WindowImage/WindowImage.h"

#include <stdatomic.h>
#include <stddef.h>

#define SB_EXPORT __attribute__((visibility("default")))

/* Null until the stand-in installs its functions (statics start out zero). */
static _Atomic(CGWindowListCreateImageFunction) installedCreate;
static _Atomic(CGImageReleaseFunction) installedRelease;

SB_EXPORT void SBWindowImageInstall(CGWindowListCreateImageFunction create, CGImageReleaseFunction release) {
    atomic_store(&installedRelease, release);
    atomic_store(&installedCreate, create);
}

SB_EXPORT CGImageRef CGWindowListCreateImage(CGWindowRect screenBounds, CGWindowListOption listOption,
                                             CGWindowID windowID, CGWindowImageOption imageOption) {
    CGWindowListCreateImageFunction create = atomic_load(&installedCreate);
    return create ? create(screenBounds, listOption, windowID, imageOption) : NULL;
}

SB_EXPORT void CGImageRelease(CGImageRef image) {
    CGImageReleaseFunction release = atomic_load(&installedRelease);
    if (image && release) release(image);
}
