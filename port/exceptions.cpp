// The exception classes are defined here, in the library, so that their type
// information is the library's own and hosts catch them by type.
#include <utility>

#include "zarvo/da30.h"

namespace zarvo {

Exception::Exception(std::string message) : message_(std::move(message)) {}
Exception::Exception(const Exception& other) = default;
Exception& Exception::operator=(const Exception& other) = default;
Exception::~Exception() = default;
const char* Exception::what() const noexcept { return message_.c_str(); }

ESerialIO::ESerialIO(std::string message) : Exception(std::move(message)) {}
ESerialIO::ESerialIO(const ESerialIO& other) = default;
ESerialIO& ESerialIO::operator=(const ESerialIO& other) = default;
ESerialIO::~ESerialIO() = default;

}  // namespace zarvo
