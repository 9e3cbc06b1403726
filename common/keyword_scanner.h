#pragma once
// Case-insensitive search, replacement and argument extraction over
// zero-terminated wide text. Every keyword test of the program uses these.
#include <cstddef>
#include <cstdint>

namespace KeywordScanner {

// Compares at most n characters ignoring case; 0 when they match.
int32_t CompareNoCase(const char16_t* a, const char16_t* b, int32_t n);

// The first case-insensitive occurrence of pattern in text, or null.
const char16_t* FindNoCase(const char16_t* text, const char16_t* pattern);
char16_t* FindNoCase(char16_t* text, const char16_t* pattern);

// Replaces in place the first occurrence of what by with, provided the result
// fits capacity units; returns the position just after the inserted text, or
// null when nothing was replaced.
char16_t* ReplaceFirstNoCase(char16_t* text, size_t capacity, const char16_t* what,
                             const char16_t* with);

// Finds keyword followed by open and copies the text up to the matching close
// into out (outCapacity units with the terminator). Returns 1, or 0 when the
// keyword is absent (out is then empty). Nested pairs stay in the argument.
// Without its close the argument runs to the end of the text, less trailing
// carriage returns, line feeds and blanks. A longer argument than out holds
// is cut to fit.
int ExtractArgument(const char16_t* keyword, const char16_t* text, char16_t* out,
                    size_t outCapacity, char16_t open, char16_t close);

}  // namespace KeywordScanner

using KeywordScanner::CompareNoCase;
using KeywordScanner::ExtractArgument;
using KeywordScanner::FindNoCase;
using KeywordScanner::ReplaceFirstNoCase;
