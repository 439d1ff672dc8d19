#pragma once
#include <nimbex/reader.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Hands a text to the caller through a size/buffer record:
//  - null record: 87;
//  - null buffer or zero size: the length (without the terminating zero), 0;
//  - a size below length + 1: the length, 234;
//  - otherwise the text and its zero are copied, the length written, 0.
uint32_t ReturnText(CloudSizeBufferRecord* record, const char* text, size_t length);
uint32_t ReturnText(CloudSizeBufferRecord* record, const std::string& text);
