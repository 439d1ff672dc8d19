// Translation of libcurl results into the client's error codes.
#pragma once
#include <curl/curl.h>

#include <cstdint>

uint32_t HttpErrorFromCurl(CURLcode code);
