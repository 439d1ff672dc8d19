// Process-wide state of the HTTP client: the curl share object (DNS cache,
// TLS sessions, idle connections) and a fork generation.
#pragma once
#include <curl/curl.h>

#include <cstdint>

// Number of forks this process has seen itself through (0 in the original
// process). Handles made in an earlier generation belong to the parent.
uint64_t HttpForkGeneration();

// The share object of the current generation, made on first use. After a
// fork the child gets a fresh one; the parent's is abandoned untouched (its
// sockets and TLS state belong to the parent).
CURLSH* HttpShareObject();

// An easy handle attached to the current share object: a parked one when
// available (it keeps its transfer machinery, so a new client's first
// request costs what a reused client's does), else a new one. Null when
// libcurl cannot make one.
CURL* HttpTakeHandle();

// Parks a handle taken in this generation for the next client (its options
// are reset first); cleans it up when enough are parked.
void HttpParkHandle(CURL* handle);
