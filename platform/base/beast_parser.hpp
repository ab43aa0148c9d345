#pragma once
// g++ 12 with the sanitizers' instrumentation reports -Wmaybe-uninitialized inside Beast's
// parser: it inlines content_length_unchecked() into put() and do_field() and loses track of
// the boost::optional<std::uint64_t> being set on every path that reads it. The pragmas cover
// Beast's parser headers only, on g++ 12 sanitizer builds only; every other warning, and this
// one everywhere else, stays on. Include this before anything else pulls in the parser.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12 && \
    (defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__))
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <boost/beast/http/parser.hpp>
#pragma GCC diagnostic pop
#else
#include <boost/beast/http/parser.hpp>
#endif
