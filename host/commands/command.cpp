#include "host/commands/command.h"

#include <exception>
#include <utility>

#include "host/session/console.h"

namespace zarvo::host {

void choose(CLI::App* command, Choice& choice, std::function<void(Session&, Output&)> run) {
  command->callback([&choice, run = std::move(run)] {
    choice.action = [run](Session& session, Output& out) {
      run(session, out);
      return 0;
    };
  });
}

int run_guarded(const Action& action, Session& session, Output& out, const std::string& name) {
  session.reset_failure();
  std::string error;
  int status = exit_status::kDriverFailed;
  try {
    return action(session, out);
  } catch (const Interrupted&) {
    return exit_status::kInterrupted;
  } catch (const Refused& e) {
    error = e.what();
    status = exit_status::kRefused;
  } catch (const zarvo::ESerialIO& e) {
    error = driver_message(e);
    if (const std::string why = session.last_failure(); !why.empty()) error += " (" + why + ")";
    if (session.last_failure_held_elsewhere()) status = exit_status::kHostFailed;
  } catch (const zarvo::Exception& e) {
    error = driver_message(e);
  } catch (const std::exception& e) {
    error = e.what();
    status = exit_status::kHostFailed;
  }
  out.failure(name, error, status);
  return status;
}

int run_standalone(const Standalone& action, const SessionOptions& options, Output& out,
                   const std::string& name) {
  std::string error;
  try {
    return action(options, out);
  } catch (const Interrupted&) {
    return exit_status::kInterrupted;
  } catch (const zarvo::Exception& e) {
    error = driver_message(e);
  } catch (const std::exception& e) {
    error = e.what();
  }
  out.failure(name, error, exit_status::kHostFailed);
  return exit_status::kHostFailed;
}

}  // namespace zarvo::host
