/* Exercises every path of the vantorell C interface that allocates or
 * releases something: refused configurations of every kind (null, invalid
 * UTF-8, YAML faults, hostile documents, refused regular expressions),
 * handles that live through passes, rule rejections, loop rejections and
 * long or odd inputs, several handles at once, and their release. Run under
 * valgrind or a sanitizer, it must finish with no error and no leak; it
 * exits non-zero on the first unexpected answer. */

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
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

static vantorell_state_t* init_text(const char* yaml) { return vantorell_init(yaml, strlen(yaml)); }

/* A text of `n` bytes built by repeating `unit`, NUL-terminated. */
static char* repeat(const char* head, const char* unit, size_t n_units, const char* tail) {
  size_t len = strlen(head) + strlen(unit) * n_units + strlen(tail);
  char* text = malloc(len + 1);
  char* p = text;
  size_t i;
  if (text == NULL) exit(2);
  p += sprintf(p, "%s", head);
  for (i = 0; i < n_units; ++i) p += sprintf(p, "%s", unit);
  sprintf(p, "%s", tail);
  return text;
}

static void refused_configurations(void) {
  static const char* const refused[] = {
      "",
      "{}\n---\n{}\n",
      "strictness: Strict\n",
      "max_repeats: -1\n",
      "max_repeats: 1\nmax_repeats: 2\n",
      "rules:\n  - type: regex\n    pattern: \"(\"\n",
      "rules:\n  - type: regex\n    pattern: \"ok\"\n  - type: regex\n    pattern: \"[\"\n",
      "rules:\n  - type: exact\n    value: 42\n",
      "rules:\n  - type: json_schema\n    type: object\n",
      "rules:\n  - [regex]\n",
      "defaults: {}\n",
      "tools:\n  - name: t\n    trajectory_gate: {status: x, error_detection: {status_not_in: "
      "[70000]}}\n",
      "a: *missing\n",
      "key: [unclosed\n",
  };
  size_t i;
  char* deep;
  char* bomb;
  char* nul;
  CHECK(vantorell_init(NULL, 0) == NULL);
  CHECK(vantorell_init(NULL, 100) == NULL);
  CHECK(vantorell_init("\xff\xfe", 2) == NULL);
  CHECK(vantorell_init("a: \xc3", 4) == NULL);
  for (i = 0; i < sizeof refused / sizeof refused[0]; ++i) {
    vantorell_state_t* s = init_text(refused[i]);
    if (s != NULL) fprintf(stderr, "accepted: %s\n", refused[i]);
    CHECK(s == NULL);
    vantorell_free(s);
  }

  /* 10,000 nested sequences. */
  deep = repeat("rules: ", "[", 10000, "");
  CHECK(init_text(deep) == NULL);
  free(deep);

  /* An alias bomb: each level doubles the previous one, 2^40 leaves. */
  {
    size_t level;
    char* p;
    bomb = malloc(64 * 48 + 64); /* 40 lines of at most 40 bytes */
    if (bomb == NULL) exit(2);
    p = bomb;
    p += sprintf(p, "l0: &l0 [x, x]\n");
    for (level = 1; level < 40; ++level) {
      p += sprintf(p, "l%zu: &l%zu [*l%zu, *l%zu]\n", level, level, level - 1, level - 1);
    }
    sprintf(p, "rules: *l39\n");
    CHECK(init_text(bomb) == NULL);
    free(bomb);
  }

  /* NUL bytes inside the configuration. */
  nul = malloc(32);
  if (nul == NULL) exit(2);
  memcpy(nul, "max_repeats: 3\n\0x: 1\n", 22);
  CHECK(vantorell_init(nul, 22) == NULL);
  free(nul);
}

static void live_handles(void) {
  static const char config[] =
      "strictness: strict\n"
      "max_repeats: 3\n"
      "history_window: 10\n"
      "rules:\n"
      "  - type: regex\n"
      "    pattern: '^\\{'\n"
      "  - type: json_schema\n"
      "    required: [path]\n"
      "  - [json_schema, [x], array]\n"
      "defaults:\n"
      "  trajectory_gate: {max_repeats: 2, count_mode: errors_only}\n"
      "tools:\n"
      "  - name: read\n"
      "    trajectory_gate:\n"
      "      volatile_fields: [ts]\n"
      "      error_detection: {json_path: $.s, status_field: code, status_not_in: [500],"
      " regex: '('}\n";
  char long_name[2000];
  char* big_scalar;
  const char* first_error;
  vantorell_state_t* a = init_text(config);
  vantorell_state_t* b = init_text("{}");
  vantorell_state_t* c;
  int i;
  CHECK(a != NULL && b != NULL);
  if (a == NULL || b == NULL) return;

  CHECK(vantorell_verify(NULL, "t", 1, "{}", 2) == VANTORELL_PASS);
  CHECK(vantorell_get_last_error(NULL) == NULL);
  vantorell_free(NULL);
  CHECK(vantorell_get_last_error(a) == NULL);

  CHECK(vantorell_verify(a, "read", 4, "{\"path\":1}", 10) == VANTORELL_PASS);
  CHECK(vantorell_verify(a, "read", 4, "[]", 2) == VANTORELL_REJECT_STRICT);
  first_error = vantorell_get_last_error(a);
  CHECK(first_error != NULL && strcmp(first_error, "Failed regex rule") == 0);
  CHECK(vantorell_verify(a, "read", 4, "{\"other\":1}", 11) == VANTORELL_REJECT_STRICT);
  CHECK(vantorell_get_last_error(a) == first_error);
  CHECK(strcmp(first_error, "Missing required field in JSON") == 0);
  CHECK(vantorell_verify(a, "read", 4, "{", 1) == VANTORELL_REJECT_STRICT);
  CHECK(strcmp(vantorell_get_last_error(a), "Invalid JSON") == 0);
  CHECK(vantorell_verify(a, NULL, 5, NULL, 7) == VANTORELL_REJECT_STRICT);
  CHECK(vantorell_verify(a, "\xff", 1, "\xfe", 1) == VANTORELL_REJECT_STRICT);

  /* Loop rejections with a name longer than the error buffer. */
  memset(long_name, 'n', sizeof long_name);
  for (i = 0; i < 4; ++i) vantorell_verify(b, long_name, sizeof long_name, "{}", 2);
  CHECK(vantorell_get_last_error(b) != NULL && strlen(vantorell_get_last_error(b)) == 1023);
  CHECK(vantorell_verify(b, "to\0ol", 5, "", 0) == VANTORELL_PASS);

  /* Many calls: the history and the error buffer are reused. */
  for (i = 0; i < 5000; ++i) {
    char args[32];
    int n = sprintf(args, "{\"path\":%d}", i % 7);
    vantorell_verify(a, i % 2 ? "read" : "write", i % 2 ? 4 : 5, args, (size_t)n);
    vantorell_verify(b, "t", 1, args, (size_t)n);
  }

  /* A 10 MB scalar in a configuration that is accepted. */
  big_scalar = repeat("rules:\n  - type: exact\n    value: '", "x", 10u * 1024 * 1024, "'\n");
  c = init_text(big_scalar);
  free(big_scalar);
  CHECK(c != NULL);
  CHECK(vantorell_verify(c, "t", 1, "x", 1) == VANTORELL_REJECT_BALANCED);
  vantorell_free(c);

  vantorell_free(a);
  vantorell_free(b);
}

int main(void) {
  int round;
  for (round = 0; round < 2; ++round) {
    refused_configurations();
    live_handles();
  }
  if (failures != 0) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return 1;
  }
  printf("vantorell lifecycle: all checks passed\n");
  return 0;
}
