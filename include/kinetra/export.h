#pragma once
/// @file export.h
/// KINETRA_API marks what the shared library exports: the library is built with
/// hidden symbol visibility, so only the classes and functions declared with this
/// macro are part of its binary interface.

#if defined(_WIN32)
// A DLL exports its symbols through the build (an export-all definition file).
#define KINETRA_API
#elif defined(__GNUC__) || defined(__clang__)
/// Exports a class, function or variable from the shared library.
#define KINETRA_API __attribute__((visibility("default")))
#else
#define KINETRA_API
#endif

#if defined(_WIN32)
#define KINETRA_LOCAL
#elif defined(__GNUC__) || defined(__clang__)
/// Keeps a class declared in a public header out of the shared library's
/// interface: the implementation classes nested in exported classes, which would
/// otherwise inherit their visibility.
#define KINETRA_LOCAL __attribute__((visibility("hidden")))
#else
#define KINETRA_LOCAL
#endif
