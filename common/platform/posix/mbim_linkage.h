// How an MBIM port library's entry points are exported and called
// (mbim_port_api.h): visible from a shared object built with hidden
// symbols; the platform's one calling convention.
#pragma once

#define MBIM_API __attribute__((visibility("default")))
#define MBIM_CALL
