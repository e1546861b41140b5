#include "window/production_options.h"

#include "support/man_page.h"
#include "tests/support/temp_files.h"

#include <gtest/gtest.h>

#include <set>

namespace vorsal {
namespace {

ProductionOptions Parse(const std::vector<std::string>& args) { return ParseProductionOptions(args); }

TEST(ProductionOptions, AWholeLineFillsTheSettingsOverTheRememberedOnes) {
  test::TempDir dir;
  // As a Windows editor saves it: a byte order mark and a CRLF.
  test::WriteAll(dir / "key.txt", "\xEF\xBB\xBF Ключ \r\nsecond line\n");
  const ProductionOptions options =
      Parse({"--production", "--run", "-p", "COM3", "--port=COM4", "-p", "COM3", "--network", "working", "--start", "17",
             "--count", "4096", "--key-file", (dir / "key.txt").string(), "--registry", "host=db", "--journal", "j.csv"});
  ASSERT_TRUE(options.ok()) << options.error;
  EXPECT_TRUE(options.production && options.run);
  EXPECT_EQ(options.ports, (std::vector<std::string>{"COM3", "COM4"}));  // the port named twice is served once
  EXPECT_EQ(options.journal, "j.csv");

  ProductionSettings settings;
  settings.registry = "host=remembered";
  settings.network = NetworkService;
  ApplyProductionOptions(options, settings);
  EXPECT_FALSE(settings.allUsbAdapters);
  EXPECT_EQ(settings.ports.size(), 2u);
  EXPECT_EQ(settings.network, NetworkWorking);
  EXPECT_EQ(settings.start, 17);
  EXPECT_EQ(settings.count, 4096);
  EXPECT_EQ(settings.keyName, "Ключ");
  EXPECT_EQ(settings.registry, "host=db");

  // Without -p the remembered choice of ports stays.
  ProductionSettings untouched;
  ApplyProductionOptions(Parse({"--production", "--start", "5"}), untouched);
  EXPECT_TRUE(untouched.allUsbAdapters);
  EXPECT_EQ(untouched.start, 5);
  EXPECT_EQ(untouched.network, NetworkWorking);
}

TEST(ProductionOptions, ABadLineIsOneRussianTextAndStartsNothing) {
  EXPECT_TRUE(Parse({}).ok());
  EXPECT_FALSE(Parse({}).production);
  EXPECT_EQ(Parse({"-p", "COM3"}).error, "Параметр -p действует только вместе с --production.");
  EXPECT_EQ(Parse({"--production", "--run", "--network", "working"}).error, "Для --run нужны --start и --network.");
  // The batch's own limits.
  EXPECT_EQ(Parse({"--production", "--network", "working", "--start", "0"}).error,
            "Начальный адрес 0 недопустим в сетке «Рабочая»: допустимы адреса от 1 до 4095.");
  EXPECT_TRUE(Parse({"--production", "--network", "service", "--start", "0"}).ok());
  EXPECT_EQ(Parse({"--production", "--count", "0"}).error,
            "Параметр --count принимает целое число от 1 до 4096, а не '0'.");
  EXPECT_EQ(Parse({"--production", "--start", "4096"}).error,
            "Параметр --start принимает целое число от 0 до 4095, а не '4096'.");
  EXPECT_EQ(Parse({"--production", "--network", "Рабочая"}).error,
            "Неизвестная сетка 'Рабочая': допустимы service (технологическая) и working (рабочая).");
  EXPECT_EQ(Parse({"--production", "--journal"}).error, "Параметру --journal нужно значение.");
  EXPECT_EQ(Parse({"--production", "--registry="}).error, "Параметру --registry нужно значение.");
  EXPECT_EQ(Parse({"--production", "COM3"}).error, "Лишний аргумент командной строки 'COM3'.");
  // A key name typed on the command line would be seen by every user.
  EXPECT_EQ(Parse({"--production", "--key", "secret"}).error,
            "Имя ключа в командной строке видят все пользователи компьютера. Задайте его файлом: --key-file ФАЙЛ.");
  EXPECT_EQ(Parse({"--production", "--key=secret"}).error, Parse({"--production", "--key", "secret"}).error);
  // A switch given a value is refused rather than read as on: "no" would start a run.
  EXPECT_EQ(Parse({"--production", "--run=no", "--network", "working", "--start", "1"}).error,
            "Параметр --run не принимает значения.");
}

// The box shows the reason and then the line as the program takes it; the
// manual page lists exactly the options the parser takes.
TEST(ProductionOptions, TheBoxAndTheManualPageShowTheOptionsTheParserTakes) {
  EXPECT_EQ(ProductionOptionsMessage(Parse({"--production", "--run"})),
            "Для --run нужны --start и --network.\n\n"
            "Командная строка окна производства:\n"
            "vorsal --production [--run] [-p ПОРТ]... [--network service|working] [--start N] [--count K] "
            "[--key-file ФАЙЛ] [--registry URL] [--journal ФАЙЛ]");
  const std::set<std::string> documented = test::ManPageOptions(VORSAL_WINDOW_MAN_PAGE, {"OPTIONS"});
  std::set<std::string> taken;
  for (const OptionSpec& option : ProductionOptionTable()) {
    for (const std::string_view name : {option.shortName, option.longName}) {
      if (name.empty()) continue;
      taken.emplace(name);
      EXPECT_TRUE(documented.count(std::string(name))) << name << " lacks a manual entry";
    }
  }
  for (const std::string& name : documented) EXPECT_TRUE(taken.count(name)) << name << " is in the manual page only";
}

TEST(ProductionOptions, TheKeyFileIsReadOnlyFromALineThatIsOtherwiseRight) {
  test::TempDir dir;
  const std::string missing = (dir / "missing.txt").string();
  // The bad start is what is said; the missing file is never looked at.
  EXPECT_EQ(Parse({"--production", "--key-file", missing, "--start", "x"}).error,
            "Параметр --start принимает целое число от 0 до 4095, а не 'x'.");
  EXPECT_EQ(Parse({"--production", "--key-file", missing}).error,
            "Имя ключа не прочитано из файла '" + missing + "': no such file.");
  test::WriteAll(dir / "empty-line.txt", "\r\nname on the second line\n");
  EXPECT_EQ(Parse({"--production", "--key-file", (dir / "empty-line.txt").string()}).error,
            "В файле '" + (dir / "empty-line.txt").string() + "' нет имени ключа: его первая строка пуста.");
  EXPECT_EQ(Parse({"--production", "--key-file", "-"}).error,
            "У окна нет стандартного ввода: укажите в --key-file файл с именем ключа.");
}

}  // namespace
}  // namespace vorsal
