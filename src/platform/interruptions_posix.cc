#include <signal.h>

#include <atomic>
#include <csignal>

#include "platform/interruptions.h"
#include "platform/terminal.h"

namespace platform {
namespace {

constexpr int kHeldSignals[] = {SIGHUP, SIGINT, SIGTERM};

volatile sig_atomic_t holding = 0;
volatile sig_atomic_t heldSignal = 0;
bool installed = false;

// Ends the process as the signal would have without the handler, with a
// scan's status line off the terminal. Inside the handler the signal is
// blocked, so it is delivered as the handler returns.
void endBy(int signal) {
  eraseStatusLine();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void onSignal(int signal) {
  if (holding != 0) {
    heldSignal = signal;
    return;
  }
  endBy(signal);
}

void install() {
  installed = true;
  for (int signal : kHeldSignals) {
    struct sigaction current;
    // A shell starts background jobs with SIGINT ignored; that stays so.
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) continue;
    struct sigaction hold {};
    hold.sa_handler = onSignal;
    sigemptyset(&hold.sa_mask);
    hold.sa_flags = SA_RESTART;
    sigaction(signal, &hold, nullptr);
  }
}

}  // namespace

void holdInterruptions() {
  if (!installed) install();
  holding = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
}

void releaseInterruptions() {
  std::atomic_signal_fence(std::memory_order_seq_cst);
  holding = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  // A signal that comes from here on ends the process in the handler.
  if (heldSignal != 0) endBy(heldSignal);
}

}  // namespace platform
