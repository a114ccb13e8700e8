#pragma once

#include <stdint.h>

typedef int32_t rcl_ret_t;

#define RCL_RET_OK 0
#define RCL_RET_ERROR 1
#define RCL_RET_BAD_ALLOC 10
#define RCL_RET_INVALID_ARGUMENT 11
#define RCL_RET_NOT_INIT 101
#define RCL_RET_SERVICE_NAME_INVALID 104
#define RCL_RET_NODE_INVALID 200
#define RCL_RET_INVALID_ROS_ARGS 1003
