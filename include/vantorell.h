/* File: vantorell.h
 *
 * C interface of vantorell, a verifier for the tool calls of an LLM agent.
 * A verifier is created from a YAML configuration and then asked about each
 * proposed call (a tool name and its argument text). It checks a loop gate
 * over the calls it has accepted, then the configured rules, and answers with
 * a one-byte verdict; after a rejection a readable reason is available.
 *
 *   vantorell_state_t* v = vantorell_init(yaml, strlen(yaml));
 *   if (v != NULL) {
 *     if (vantorell_verify(v, "search", 6, args, args_len) != VANTORELL_PASS)
 *       fprintf(stderr, "rejected: %s\n", vantorell_get_last_error(v));
 *     vantorell_free(v);
 *   }
 *
 * Conventions:
 *  - Texts are passed as counted byte spans (pointer plus length): they need
 *    no terminating NUL, exactly `len` bytes are read, and no reference to
 *    the caller's buffers is kept after a call returns. Texts are expected to
 *    be UTF-8; a tool name or argument text that is not valid UTF-8 is
 *    treated as the empty text.
 *  - Null pointers are accepted everywhere. A null handle makes
 *    vantorell_verify return VANTORELL_PASS and the other functions do
 *    nothing (or return NULL); a null text pointer stands for the empty text
 *    whatever length comes with it.
 *  - Ownership: the handle returned by vantorell_init belongs to the caller,
 *    who releases it with exactly one call of vantorell_free. The text
 *    returned by vantorell_get_last_error belongs to the handle: do not free
 *    or modify it; it is rewritten by the next rejection and invalid once
 *    the handle is freed.
 *  - Threads: a handle has no lock; use each handle from one thread at a
 *    time. Different handles share nothing and may be used concurrently.
 *  - No function reports failure by unwinding into the caller.
 */

#ifndef VANTORELL_H_
#define VANTORELL_H_

#include <stddef.h>
#include <stdint.h>

#if defined(VANTORELL_BUILDING_LIBRARY) && defined(__GNUC__)
#define VANTORELL_EXPORT __attribute__((visibility("default")))
#else
#define VANTORELL_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Verdicts of vantorell_verify. A rejection is 1 plus the configured
 * strictness code (lenient 0, balanced 1, strict 2), whatever the reason. */
#define VANTORELL_PASS ((uint8_t)0)
#define VANTORELL_REJECT_LENIENT ((uint8_t)1)
#define VANTORELL_REJECT_BALANCED ((uint8_t)2)
#define VANTORELL_REJECT_STRICT ((uint8_t)3)

/* A verifier: its configuration, compiled rules, accepted calls and the
 * text of its last rejection. */
typedef struct vantorell_state_t vantorell_state_t;

/* Creates a verifier from the `len` bytes of YAML configuration at `yaml`.
 * Returns NULL when `yaml` is NULL, not valid UTF-8, not an acceptable
 * configuration, or holds a regular expression that does not compile; the
 * reason is not available. */
VANTORELL_EXPORT vantorell_state_t* vantorell_init(const char* yaml, size_t len);

/* Checks one proposed call: the loop gate, then the rules in configuration
 * order. Returns VANTORELL_PASS or a VANTORELL_REJECT_* verdict; a call that
 * passes the loop gate is remembered even if a rule then rejects it. */
VANTORELL_EXPORT uint8_t vantorell_verify(vantorell_state_t* state, const char* tool,
                                          size_t tool_len, const char* args, size_t args_len);

/* The NUL-terminated reason for the most recent rejection (at most 1023
 * bytes, possibly cut inside a UTF-8 character), or NULL when `state` is NULL
 * or nothing was rejected yet. A passing call does not clear it; the address
 * is the same for every rejection on one handle. */
VANTORELL_EXPORT const char* vantorell_get_last_error(const vantorell_state_t* state);

/* Releases the verifier and everything it owns. NULL is ignored. */
VANTORELL_EXPORT void vantorell_free(vantorell_state_t* state);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VANTORELL_H_ */
