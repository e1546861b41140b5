// Stand-in for the serial port component while serial/com_port.h is being
// built: the declarations the main window uses, with a port that never opens.
#pragma once

#include <QObject>

#include <cerrno>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vorsal {

enum TBaudRate { br600, br9600 };
enum TDataBits { dbEight };
enum TStopBits { sbOneStopBit };
enum TParityBits { prNone };
enum TComError { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO };
using TComErrors = unsigned;

class EComPort : public std::runtime_error {
 public:
  EComPort(int code, int systemCode)
      : std::runtime_error("Unable to open com port (Error: " + std::to_string(systemCode) + ")"),
        code_(code), systemCode_(systemCode) {}
  int Code() const { return code_; }
  int SystemCode() const { return systemCode_; }

 private:
  int code_;
  int systemCode_;
};

class TCustomComPort : public QObject {
 public:
  class TParity {
   public:
    void SetBits(TParityBits) {}
  };
  const std::string& Port() const { return port_; }
  void SetPort(std::string port) { port_ = std::move(port); }
  TBaudRate BaudRate() const { return baud_; }
  void SetBaudRate(TBaudRate baud) { baud_ = baud; }
  void SetDataBits(TDataBits) {}
  void SetStopBits(TStopBits) {}
  TParity& Parity() { return parity_; }
  bool Connected() const { return false; }
  void Open() { throw EComPort(1, ENOENT); }
  void Close() {}
  int Read(void*, int) { return 0; }
  int Write(const void*, int) { throw EComPort(2, EBADF); }
  int InputCount() { return 0; }
  const std::vector<std::string>& PortList() const { return list_; }
  void UpdatePortList() {}

  std::function<void(TCustomComPort*, int)> OnRxChar;
  std::function<void(TCustomComPort*, TComErrors)> OnError;

 private:
  std::string port_;
  TBaudRate baud_ = br600;
  TParity parity_;
  std::vector<std::string> list_;
};

class TComPort : public TCustomComPort {};

}  // namespace vorsal
