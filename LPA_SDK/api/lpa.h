/*
 * Hollowbright eSIM LPA engine: the exported lpa API.
 * Compiles as C and as C++.
 */
#ifndef LPA_H
#define LPA_H

#include <stdint.h>
#include <stdbool.h>
#include <stddef.h>

#ifndef LPA_API
#define LPA_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
}
#endif

#endif /* LPA_H */
