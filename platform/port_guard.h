// Calls into the host's port object with every failure of the host's
// absorbed: a C++ exception, and on Windows a structured exception, which is
// how hosts built with other compilers fail. Nothing the host raises inside
// such a call passes through the driver's frames.
#pragma once

namespace zarvo::platform {

using GuardedBody = void (*)(void* context) noexcept;

// Runs body(context); false when a structured exception raised inside it was
// absorbed (the host's frames above are unwound first). Elsewhere than on
// Windows it just runs the body.
bool RunUnderStructuredGuard(GuardedBody body, void* context) noexcept;

// True when call() returned; false when it failed in any way.
template <typename Call>
bool ReturnsNormally(Call&& call) noexcept {
  struct Context {
    Call* call;
    bool threw;
  } context{&call, false};
  const GuardedBody body = [](void* raw) noexcept {
    auto& guarded = *static_cast<Context*>(raw);
    try {
      (*guarded.call)();
    } catch (...) {
      guarded.threw = true;
    }
  };
  return RunUnderStructuredGuard(body, &context) && !context.threw;
}

}  // namespace zarvo::platform
