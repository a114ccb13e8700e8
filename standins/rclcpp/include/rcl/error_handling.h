#pragma once

#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>

// The per-thread error state that rcl functions set before returning an error code.
typedef struct rcl_error_state_s {
  char message[768];
  char file[229];
  uint64_t line_number;
} rcl_error_state_t;

typedef struct rcl_error_string_s {
  char str[1024];
} rcl_error_string_t;

void rcl_set_error_state(const char* message, const char* file, size_t line_number);
const rcl_error_state_t* rcl_get_error_state(void);
// "<message>, at <file>:<line>", or "error not set".
rcl_error_string_t rcl_get_error_string(void);
bool rcl_error_is_set(void);
void rcl_reset_error(void);

#define RCL_SET_ERROR_MSG(msg) rcl_set_error_state(msg, __FILE__, __LINE__)
