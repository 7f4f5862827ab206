// The C++ side of the entry points: the one searcher they stand over, for the
// library's own tests and benchmarks.
#ifndef SEARCHLIB_LIBRARY_H
#define SEARCHLIB_LIBRARY_H

class Searcher;

Searcher& LibrarySearcher();

#endif
