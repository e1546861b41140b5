#include "ui/program_context.h"

#include <QCoreApplication>

namespace vorsal {

std::string ProgramDir() {
  std::string dir = QCoreApplication::applicationDirPath().toStdString();
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

std::string ProgramTitle() {
  const QStringList parts = QStringLiteral(VORSAL_FILE_VERSION).split('.');
  return std::string(VORSAL_PRODUCT_NAME) + " v." + (parts.value(0) + "." + parts.value(1)).toStdString();
}

std::vector<std::string> StoredKeyNames(const std::string&) { return {}; }

}  // namespace vorsal
