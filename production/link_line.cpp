#include "production/link_line.h"

#include "serial/com_port.h"
#include "serial/port_open_advice.h"

#include <utility>

namespace vorsal::production {

namespace {

class LinkLine : public ModemLine {
 public:
  LinkLine(std::string path, int connectionType, LinkClock* clock, int retries, OpenFailureAdvice advice)
      : path_(std::move(path)), connectionType_(connectionType), advice_(std::move(advice)), link_(retries, clock) {}

  bool Open(std::string* failure) override {
    missing_ = false;
    try {
      link_.Open(path_, connectionType_);
      return true;
    } catch (const EComPort& e) {
      missing_ = AdvisePortOpen(DiagnosePortOpen(path_, e.SystemCode())).kind == PortOpenAdviceKind::DeviceMissing;
      if (failure != nullptr) {
        *failure = "cannot open " + path_ + ": " + e.what() + (advice_ ? advice_(path_, e.SystemCode()) : "");
      }
      return false;
    }
  }
  bool Missing() const override { return missing_; }
  bool IsOpen() const override { return link_.IsOpen(); }
  void Close() override { link_.Close(); }
  std::string PortError() const override { return link_.PortError(); }
  Outcome ReadParams(ModemParams& params) override { return link_.ReadParams(params); }
  Outcome WriteAddress(const ModemParams& current, int address, int network) override {
    return link_.WriteAddress(current, address, network);
  }
  Outcome SendKey(const std::uint8_t* key32, const std::function<void(int)>& progress) override {
    return link_.SendKey(key32, progress);
  }
  Outcome ReadFootprint(std::string& footprint) override { return link_.ReadFootprint(footprint); }
  void SetAbandon(std::function<bool()> abandon) override { link_.SetAbandon(std::move(abandon)); }

 private:
  std::string path_;
  int connectionType_;
  OpenFailureAdvice advice_;
  ModemLink link_;
  bool missing_ = false;
};

}  // namespace

std::unique_ptr<ModemLine> MakeLinkLine(const std::string& path, int connectionType, LinkClock* clock, int retries,
                                        OpenFailureAdvice advice) {
  return std::make_unique<LinkLine>(path, connectionType, clock, retries, std::move(advice));
}

}  // namespace vorsal::production
