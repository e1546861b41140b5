// The event thread of an open port: waits on the device and a stop signal,
// and hands each batch of events to the port's own thread through the
// port's event queue, blocking until the batch has been delivered there.
#pragma once

#include "serial/com_port.h"

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace vorsal {

// The meeting point of one event thread and the port's thread. A fresh one
// belongs to every thread, so a delivery that outlives its thread (the port
// was closed from inside a handler) can never touch a later thread's state.
struct TCustomComPort::HandOver {
  std::mutex mutex;
  std::condition_variable changed;
  bool stop = false;         // Close asked the thread to end
  bool pending = false;      // a batch waits for, or is in, delivery
  bool serving = false;      // the batch's delivery is running
  TComEvents events = 0;     // the batch
  TComErrors errors = 0;     // error kinds gathered since the last error delivery
  std::exception_ptr error;  // what the last delivery raised
};

class TComThread {
 public:
  // Starts the device's event wait and the thread. Raises EComPort code 1
  // with the system code when the system refuses.
  TComThread(TCustomComPort* port, platform::SerialDevice& device, TComEvents events, int inputSize,
             bool sampleLines);
  // Stops and joins the thread. A delivery it waits for must have been run
  // first (TCustomComPort::StopThread does), or this never returns.
  ~TComThread();
  TComThread(const TComThread&) = delete;
  TComThread& operator=(const TComThread&) = delete;

  const std::shared_ptr<TCustomComPort::HandOver>& Hand() const { return hand_; }
  // Sets the stop signal. After it returns the thread starts no new batch.
  void RequestStop();
  void Join();

 private:
  void Run();
  // Hands `events` over and waits until they were delivered. False when the
  // port is closing and the batch was not delivered or is still running.
  bool Deliver(TComEvents events, TComErrors errors);

  TCustomComPort* port_;
  platform::SerialDevice& device_;
  TComEvents events_;
  int inputSize_;
  std::shared_ptr<TCustomComPort::HandOver> hand_;
  std::exception_ptr failure_;  // what a handler raised; no deliveries after it
  std::thread thread_;
};

}  // namespace vorsal
