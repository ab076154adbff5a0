#pragma once

// libre/librem as C declarations. Their feature macros (HAVE_INTTYPES_H, HAVE_STDBOOL_H,
// HAVE_INET6) come from the build, as Debian's pkg-config file does not export them.
#include <cstdarg>
#include <cstdint>
#include <cstdio>

extern "C" {
#include <re/re.h>
#include <rem/rem.h>
}
