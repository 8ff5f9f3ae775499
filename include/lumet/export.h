#pragma once

// The library exports only what its headers declare with LUMET_API; everything else in it
// is hidden, so its internals never clash with a program's own symbols.
#define LUMET_API __attribute__((visibility("default")))
