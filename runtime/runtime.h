// The small C and C++ runtime of VARSETUP.EXE.  The Windows build links no C
// library: a DLL-based one (MSVCRT.DLL) is missing on a retail Windows 95,
// and a static one brings in far more than the program uses.  What the
// compiler and the product need instead is here, over kernel32 alone:
// start-up and exit (startup.cpp), the heap (heap.cpp), the memory and
// string functions (strings.cpp), and the parts of std::string that the C++
// library would otherwise link from its own archive (cxx_library.cpp).
//
// The build has no C++ exceptions, so nothing here throws: an allocation
// that fails, or a length the C++ library refuses, ends the process.
#ifndef VARSETUP_RUNTIME_RUNTIME_H
#define VARSETUP_RUNTIME_RUNTIME_H

// Ends the process at once with the exit code of an abort (3), without
// running exit handlers: the state they would work on is not to be trusted.
[[noreturn]] void RuntimeAbort();

#endif  // VARSETUP_RUNTIME_RUNTIME_H
