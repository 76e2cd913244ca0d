#include "host/session/line_threads.h"

#include <exception>
#include <thread>

namespace zarvo::host {

void for_each_line_at_once(const std::vector<std::uint32_t>& lines,
                           const std::function<void(std::uint32_t)>& work) {
  std::vector<std::exception_ptr> failures(lines.size());
  {
    std::vector<std::jthread> threads;
    threads.reserve(lines.size());
    for (std::size_t i = 0; i < lines.size(); ++i) {
      threads.emplace_back([&work, &failures, &lines, i] {
        try {
          work(lines[i]);
        } catch (...) {
          failures[i] = std::current_exception();
        }
      });
    }
  }  // the threads join here
  for (const std::exception_ptr& failure : failures) {
    if (failure) std::rethrow_exception(failure);
  }
}

}  // namespace zarvo::host
