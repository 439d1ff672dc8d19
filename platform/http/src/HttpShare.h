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
