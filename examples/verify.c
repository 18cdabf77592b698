/* verify.c: checks tool calls read from standard input with vantorell.
 *
 * Usage: verify CONFIG.yaml < calls.tsv
 * Each input line is a tool name, a tab, and the argument text. For every
 * line the program prints the verdict and, for a rejection, the reason.
 * Exit status: 0 when every call passed, 1 when any was rejected, 2 on a
 * usage or configuration error.
 *
 * Build against the installed library:
 *   cc -std=c99 verify.c $(pkg-config --cflags --libs vantorell) -o verify
 */

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vantorell.h>

static char* read_file(const char* path, size_t* len) {
  FILE* f = fopen(path, "rb");
  char* buf = NULL;
  size_t cap = 0;
  *len = 0;
  if (f == NULL) return NULL;
  for (;;) {
    if (*len == cap) {
      char* grown;
      cap = cap ? cap * 2 : 4096;
      grown = realloc(buf, cap);
      if (grown == NULL) {
        free(buf);
        fclose(f);
        return NULL;
      }
      buf = grown;
    }
    size_t n = fread(buf + *len, 1, cap - *len, f);
    *len += n;
    if (n == 0) break;
  }
  fclose(f);
  return buf;
}

static const char* verdict_name(uint8_t verdict) {
  switch (verdict) {
    case VANTORELL_PASS: return "pass";
    case VANTORELL_REJECT_LENIENT: return "reject (lenient)";
    case VANTORELL_REJECT_BALANCED: return "reject (balanced)";
    case VANTORELL_REJECT_STRICT: return "reject (strict)";
    default: return "unknown";
  }
}

int main(int argc, char** argv) {
  size_t config_len;
  char* config;
  vantorell_state_t* verifier;
  char line[65536];
  unsigned long number = 0;
  int rejected = 0;

  if (argc != 2) {
    fprintf(stderr, "usage: %s CONFIG.yaml < calls.tsv\n", argv[0]);
    return 2;
  }
  config = read_file(argv[1], &config_len);
  if (config == NULL) {
    fprintf(stderr, "error: cannot read %s\n", argv[1]);
    return 2;
  }
  verifier = vantorell_init(config, config_len);
  free(config);
  if (verifier == NULL) {
    fprintf(stderr, "error: %s is not a valid vantorell configuration\n", argv[1]);
    return 2;
  }

  while (fgets(line, sizeof line, stdin) != NULL) {
    size_t len = strcspn(line, "\r\n");
    char* tab = memchr(line, '\t', len);
    const char* args = "";
    size_t tool_len = len, args_len = 0;
    uint8_t verdict;
    ++number;
    if (len == 0) continue;
    if (tab != NULL) {
      tool_len = (size_t)(tab - line);
      args = tab + 1;
      args_len = len - tool_len - 1;
    }
    verdict = vantorell_verify(verifier, line, tool_len, args, args_len);
    printf("%3lu  %-18s %.*s", number, verdict_name(verdict), (int)tool_len, line);
    if (verdict != VANTORELL_PASS) {
      printf("  -- %s", vantorell_get_last_error(verifier));
      rejected = 1;
    }
    printf("\n");
  }
  vantorell_free(verifier);
  return rejected;
}
