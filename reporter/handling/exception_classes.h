// The reporter's exception objects. Each class tells its own name and, through its parent
// chain, the names of its ancestors, so that filters and the "EAbort" rule compare class
// names exactly as they are written. A signature word lets a pointer that a capture point
// hands over be checked before it is used.
//
// Declaring a class:   QX_EXCEPTION_CLASS(EDBEditError, qx::Exception)
// The root is "Exception" (whose parent is "TObject"); this module declares QelException
// (operating-system and runtime errors), BcbTermination (the C++ terminate routine) and
// EAbort (silent aborts, never reported).
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace qx {

struct ExceptionClassInfo {
  const char* name;
  const ExceptionClassInfo* parent;  // null for the root of all classes
};

class Exception : public std::exception {
 public:
  static const ExceptionClassInfo kClassInfo;

  explicit Exception(std::string message = std::string());
  Exception(const Exception& other);
  Exception& operator=(const Exception& other);
  ~Exception() override;

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }
  virtual const ExceptionClassInfo& ClassInfo() const { return kClassInfo; }
  std::string ClassName() const { return ClassInfo().name; }
  // True when this class or one of its ancestors is called `className` (exact comparison).
  bool InheritsFrom(const std::string& className) const;

 private:
  friend const Exception* ValidException(const void* object);
  uint32_t signature_;
  std::string message_;
};

#define QX_EXCEPTION_CLASS(Name, Parent)                                              \
  class Name : public Parent {                                                        \
    using Base = Parent;                                                              \
                                                                                      \
   public:                                                                            \
    using Base::Base;                                                                 \
    static inline const ::qx::ExceptionClassInfo kClassInfo{#Name, &Parent::kClassInfo}; \
    const ::qx::ExceptionClassInfo& ClassInfo() const override { return kClassInfo; } \
  };

QX_EXCEPTION_CLASS(QelException, Exception)
QX_EXCEPTION_CLASS(BcbTermination, Exception)
QX_EXCEPTION_CLASS(EAbort, Exception)

// The object as one of the reporter's exceptions, or null when `object` is null, not
// readable, or not such an object. Never faults.
const Exception* ValidException(const void* object);

// The class name of a valid object; empty otherwise.
std::string ExceptionClassName(const void* object);
// True when a valid object's class or an ancestor is called `className`.
bool ExceptionInheritsFrom(const void* object, const std::string& className);
// True when a valid object's class or an ancestor has one of `names`.
bool ExceptionMatchesAny(const void* object, const std::vector<std::string>& names);
// Class name and message of a valid object (both empty otherwise).
void DescribeExceptionObject(void* object, std::string& className, std::string& message);

}  // namespace qx
