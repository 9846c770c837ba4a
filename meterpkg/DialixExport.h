// Export macro of libDialix.so: everything else stays hidden.
#pragma once

#if defined(DIALIX_BUILDING)
#define DIALIX_EXPORT __attribute__((visibility("default")))
#else
#define DIALIX_EXPORT
#endif
