// Keeps setup.exe small. The statically linked C++ run-time brings in about 120 KB (the symbol
// demangler and the standard exception classes with their own string implementation) only to describe
// errors that this program never shows anyone: its window procedures catch everything and carry on.
// These definitions stand in for the library's own (one object file of it, replaced as a whole): the
// containers still throw when they fail, but small exceptions that every catch (...) sees the same way.
#include <cstdlib>
#include <exception>
#include <functional>
#include <new>
#include <typeinfo>

namespace {

class LibraryFailure final : public std::exception {
 public:
  explicit LibraryFailure(const char* what) noexcept : what_(what) {}
  const char* what() const noexcept override { return what_ ? what_ : "library failure"; }

 private:
  const char* what_;
};

}  // namespace

namespace std {

void __throw_bad_exception() {
  throw bad_exception();
}
void __throw_bad_alloc() {
  throw bad_alloc();
}
void __throw_bad_array_new_length() {
  throw bad_array_new_length();
}
void __throw_bad_cast() {
  throw bad_cast();
}
void __throw_bad_typeid() {
  throw bad_typeid();
}
void __throw_logic_error(const char* what) {
  throw LibraryFailure(what);
}
void __throw_domain_error(const char* what) {
  throw LibraryFailure(what);
}
void __throw_invalid_argument(const char* what) {
  throw LibraryFailure(what);
}
void __throw_length_error(const char* what) {
  throw LibraryFailure(what);
}
void __throw_out_of_range(const char* what) {
  throw LibraryFailure(what);
}
void __throw_out_of_range_fmt(const char* what, ...) {
  throw LibraryFailure(what);
}
void __throw_runtime_error(const char* what) {
  throw LibraryFailure(what);
}
void __throw_range_error(const char* what) {
  throw LibraryFailure(what);
}
void __throw_overflow_error(const char* what) {
  throw LibraryFailure(what);
}
void __throw_underflow_error(const char* what) {
  throw LibraryFailure(what);
}

}  // namespace std

namespace __gnu_cxx {

// An exception that escapes anyway ends the program without printing its demangled type to a console
// that a GUI program does not have.
void __verbose_terminate_handler() {
  std::abort();
}

}  // namespace __gnu_cxx
