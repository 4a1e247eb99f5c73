#pragma once
// A shared library opened at first use instead of linked: a program then pays for loading it, and everything
// it pulls in, only in the commands that need it. The library stays loaded until the process ends, since the
// libraries opened this way keep state of their own between calls.

#include <string>

namespace tessera {

class RuntimeLibrary {
  public:
    // Opens file (a shared object name such as "libcups.so.2"). When that fails, error() is one line:
    // "the <kind> <file> cannot be loaded (<reason>); <neededFor>".
    RuntimeLibrary(const char* file, const char* kind, const char* neededFor);

    // Looks the entry point name up into f (declare f with decltype(&function) so that the header's type is
    // the one used). Once anything failed, f stays null and error() keeps the first failure; a missing entry
    // point reads "<file> lacks <name>".
    template <typename F> RuntimeLibrary& bind(const char* name, F& f) {
        f = reinterpret_cast<F>(symbol(name));
        return *this;
    }

    // Empty while the library and every entry point bound so far were found.
    const std::string& error() const { return error_; }

  private:
    void* symbol(const char* name);

    std::string file_;
    void* handle_ = nullptr;
    std::string error_;
};

} // namespace tessera
