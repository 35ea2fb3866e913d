// How an MBIM port library's entry points are exported and called
// (mbim_port_api.h): a DLL's exports, the C calling convention.
#pragma once

#define MBIM_API __declspec(dllexport)
#define MBIM_CALL __cdecl
