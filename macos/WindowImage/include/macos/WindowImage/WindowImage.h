#ifndef MACOS_WINDOWIMAGE_WINDOWIMAGE_H
#define MACOS_WINDOWIMAGE_WINDOWIMAGE_H

/* The C interface of the window-image library. The library exports two functions by name,
 * "CGWindowListCreateImage" and "CGImageRelease", with the signatures of the function types
 * below. Nothing links them: a caller finds them in the process with a dynamic-symbol lookup,
 * so a process without the library simply finds nothing. The library answers through the
 * functions that the stand-in installs with "SBWindowImageInstall" when it loads it. */

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* An image under the create rule: whoever receives one owns it and gives it back with the
 * release function. */
typedef struct CGImageHandle* CGImageRef;

/* A rectangle in the window server's space: origin at the top left of the primary screen, y down,
 * in points. The null rectangle has infinite x and y. */
typedef struct CGWindowRect {
    double x;
    double y;
    double width;
    double height;
} CGWindowRect;

typedef uint32_t CGWindowID;
typedef uint32_t CGWindowListOption;
typedef uint32_t CGWindowImageOption;

typedef CGImageRef (*CGWindowListCreateImageFunction)(CGWindowRect screenBounds, CGWindowListOption listOption,
                                                      CGWindowID windowID, CGWindowImageOption imageOption);
typedef void (*CGImageReleaseFunction)(CGImageRef image);
typedef void (*SBWindowImageInstallFunction)(CGWindowListCreateImageFunction create, CGImageReleaseFunction release);

#ifdef __cplusplus
}
#endif

#endif
