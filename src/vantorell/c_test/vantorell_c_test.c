/* A C99 caller of the installed library: only the public header, linked
 * through pkg-config. Reports every unexpected answer; exits non-zero if any. */

#include <stdio.h>
#include <string.h>
#include <vantorell.h>

static int failures = 0;

#define CHECK(cond)                                                            \
  do {                                                                         \
    if (!(cond)) {                                                             \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                              \
    }                                                                          \
  } while (0)

static const char kLoop[] = "Agent appears to be looping on tool ";

int main(void) {
  static const char config[] =
      "strictness: strict\n"
      "rules:\n"
      "  - type: json_schema\n"
      "    required: [path]\n";
  static const char bad[] = "rules:\n  - type: regex\n    pattern: \"(\"\n";
  const char* error;
  const char* first_error;
  char long_name[2000];
  vantorell_state_t* state;
  vantorell_state_t* other;

  /* Creation failures give a null handle. */
  CHECK(vantorell_init(NULL, 10) == NULL);
  CHECK(vantorell_init("", 0) == NULL);
  CHECK(vantorell_init("\xff\xfe", 2) == NULL);
  CHECK(vantorell_init(bad, strlen(bad)) == NULL);

  /* Null handles are tolerated. */
  CHECK(vantorell_verify(NULL, "t", 1, "{}", 2) == VANTORELL_PASS);
  CHECK(vantorell_get_last_error(NULL) == NULL);
  vantorell_free(NULL);

  state = vantorell_init(config, strlen(config));
  CHECK(state != NULL);
  if (state == NULL) return 1;
  CHECK(vantorell_get_last_error(state) == NULL);

  CHECK(vantorell_verify(state, "read", 4, "{\"path\":\"/a\"}", 13) == VANTORELL_PASS);
  CHECK(vantorell_get_last_error(state) == NULL);

  CHECK(vantorell_verify(state, "read", 4, "{\"file\":1}", 10) == VANTORELL_REJECT_STRICT);
  first_error = vantorell_get_last_error(state);
  CHECK(first_error != NULL && strcmp(first_error, "Missing required field in JSON") == 0);

  /* A null argument pointer is the empty text, which is not JSON. */
  CHECK(vantorell_verify(state, "write", 5, NULL, 4) == VANTORELL_REJECT_STRICT);
  error = vantorell_get_last_error(state);
  CHECK(error == first_error && strcmp(error, "Invalid JSON") == 0);

  /* The third identical call is a loop; the reason names the tool. */
  CHECK(vantorell_verify(state, "read", 4, "{\"path\":\"/a\"}", 13) == VANTORELL_PASS);
  CHECK(vantorell_verify(state, "read", 4, "{\"path\":\"/a\"}", 13) == VANTORELL_REJECT_STRICT);
  error = vantorell_get_last_error(state);
  CHECK(error == first_error && strcmp(error, "Agent appears to be looping on tool read") == 0);
  vantorell_free(state);

  /* A long looping name is cut to 1023 bytes. */
  other = vantorell_init("{}", 2);
  CHECK(other != NULL);
  if (other == NULL) return 1;
  memset(long_name, 'n', sizeof long_name);
  CHECK(vantorell_verify(other, long_name, sizeof long_name, "{}", 2) == VANTORELL_PASS);
  CHECK(vantorell_verify(other, long_name, sizeof long_name, "{}", 2) == VANTORELL_PASS);
  CHECK(vantorell_verify(other, long_name, sizeof long_name, "{}", 2) == VANTORELL_REJECT_BALANCED);
  error = vantorell_get_last_error(other);
  CHECK(error != NULL && strlen(error) == 1023);
  CHECK(error != NULL && strncmp(error, kLoop, sizeof kLoop - 1) == 0);
  vantorell_free(other);

  if (failures != 0) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return 1;
  }
  printf("vantorell C test: all checks passed\n");
  return 0;
}
