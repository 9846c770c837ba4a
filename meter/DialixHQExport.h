// Export macro of libDialixHQ.so: everything else stays hidden.
#pragma once

#if defined(DIALIXHQ_BUILDING)
#define DIALIXHQ_EXPORT __attribute__((visibility("default")))
#else
#define DIALIXHQ_EXPORT
#endif
