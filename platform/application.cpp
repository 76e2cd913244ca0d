#include "platform/application.h"

namespace zarvo::platform {

TApplication& Application() {
  static TApplication application;
  return application;
}

}  // namespace zarvo::platform
