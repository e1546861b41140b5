// User-interface texts of the main window and the key dialogs, exactly as the
// program shows them.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace vorsal::texts {

// `text` with %1, %2, ... replaced by `values` in turn.
inline std::string Worded(std::string_view text, std::initializer_list<std::string> values) {
  std::string out(text);
  int n = 1;
  for (const std::string& value : values) {
    const std::string mark = "%" + std::to_string(n++);
    if (const std::size_t at = out.find(mark); at != std::string::npos) out.replace(at, mark.size(), value);
  }
  return out;
}

inline constexpr char CaptionCurrentSettings[] = "Текущие параметры модема ";
inline constexpr char CaptionNewSettings[] = "Новые параметры модема ";
inline constexpr char CaptionKeyGroup[] = " Ключ шифрования для 'закрытой' сети ";
inline constexpr char CaptionPort[] = "Порт:";
inline constexpr char CaptionConnType[] = "Связь:";
inline constexpr char ConnTypeModem[] = "Зефтар";
inline constexpr char ConnTypeAdapters[] = "Оптопорт, RS-485, CAN";
inline constexpr char CaptionFirmware[] = "Прошивка:";
inline constexpr char DesignPlaceholder[] = "***";
inline constexpr char NotReadPlaceholder[] = "****";
inline constexpr char CaptionAddress[] = " Адрес ";
inline constexpr char CaptionNetwork[] = " Сетка ";
inline constexpr char NetworkServiceName[] = "Технологическая";
inline constexpr char NetworkWorkingName[] = "Рабочая";
inline constexpr char CaptionRead[] = "Прочитать";
inline constexpr char CaptionWrite[] = "Записать";
inline constexpr char CaptionAutoInc[] = "Автоинкремент адреса после успешной записи";
inline constexpr char CaptionFootprint[] = "'Отпечаток':";
inline constexpr char CaptionKey[] = "Ключ:";
inline constexpr char HintStatusBar[] = "Двойной щелчок обнуляет";
inline constexpr char MenuFile[] = "Файл";
inline constexpr char MenuFileExit[] = "Выход";
inline constexpr char MenuFileProduction[] = "Производство…";
// The production window's tiles and counters; %1 is the value.
inline constexpr char TileWaiting[] = "Ожидание модема";
inline constexpr char TileKey[] = "Ключ: часть %1 из 8";
inline constexpr char TileAddress[] = "Запись адреса %1";
inline constexpr char TileDone[] = "Готово: адрес %1";
inline constexpr char TileFailed[] = "Ошибка: %1";
inline constexpr char TileDisconnect[] = "Отключите модем";
inline constexpr char TileTakeAway[] = "Уберите модем, он дважды не настроен: %1";
inline constexpr char TileLost[] = "Адаптер отключён";
inline constexpr char TileStopped[] = "Остановлено";
inline constexpr char NextFromRegistry[] = "из реестра";
// Why a modem ended, after "Ошибка: " on its tile; %1.. are filled in.
inline constexpr char EndSeenAddress[] =
    "отвечает по адресу %1, записанному в этом запуске; оставлен как есть (без ключа новый модем от него не отличить)";
inline constexpr char EndNoKeyFunctions[] = "прошивка %1 не поддерживает ключ";
inline constexpr char EndRegistryExhausted[] = "в реестре не осталось адресов";
inline constexpr char EndRegistryRefused[] = "реестр не выдал адрес";
inline constexpr char EndRegistryStopped[] = "остановлено до ответа реестра";
inline constexpr char EndRegistryLost[] = "реестр недоступен, адрес не получен";
inline constexpr char EndAddressesUsedUp[] = "адреса сетки исчерпаны: свободных от %1 до %2 нет";
inline constexpr char EndNothingWritten[] = "; ничего не записано, у модема прежний адрес %1";
inline constexpr char EndKeyTransfer[] = "перенос ключа: %1 после %2 из %3 частей";
inline constexpr char EndFootprintRead[] = "чтение отпечатка после ключа: %1";
inline constexpr char EndFootprintDiffers[] = "отпечаток не совпадает с отпечатком прежних модемов с этим ключом";
inline constexpr char EndStoppedBeforeAddress[] = "остановлено до записи адреса; у модема прежний адрес %1";
inline constexpr char EndAddressWrite[] = "запись адреса: %1";
inline constexpr char EndMayHold[] = "; не перечитан: у модема может быть адрес %1";
inline constexpr char EndReadBack[] = "проверка записи: %1";
inline constexpr char EndAddressDiffers[] = "проверка не прошла: модем сообщает адрес %1, сетка «%2»";
inline constexpr char EndNotConfigured[] = "модем не настроен";  // then what the journal says
inline constexpr char OutcomeNoReply[] = "нет ответа";
inline constexpr char OutcomeNotAccepted[] = "ответ не принят";
inline constexpr char OutcomePortLost[] = "связь с портом потеряна";
inline constexpr char OutcomeStopped[] = "остановлено до ответа";
inline constexpr char TilePortNotOpened[] = "порт не открывается";
// What went wrong beyond a modem during a run; what the program said follows.
inline constexpr char RunPortNotOpened[] = "Порт %1 не открывается, его модемы не обслуживаются.";
inline constexpr char RunJournalFailed[] =
    "Строку журнала не удалось записать. Производство закончится после модемов в работе.";
inline constexpr char RunRegistryLost[] =
    "Реестр недоступен. Производство закончится после модемов в работе; строки журнала ждут отправки в %1.";
// What the opening of a run said besides.
inline constexpr char NoteJournalReadable[] =
    "Журнал %1 могут читать другие пользователи; журналы прежних версий содержат имена ключей.";
inline constexpr char NoteRegistryPassword[] =
    "Строка подключения к реестру содержит пароль, его могут увидеть другие пользователи. "
    "Храните пароль в ~/.pgpass, PGPASSWORD или файле служб.";
inline constexpr char NoteRegistryWarning[] = "Предупреждение реестра:";
inline constexpr char NoteSentEarlier[] = "В реестр отправлены строки журнала прежнего запуска: %1.";
inline constexpr char ProductionNoPorts[] = "Не выбран ни один порт";
// The production window.
inline constexpr char ProductionTitle[] = "Производство";
inline constexpr char CaptionProductionSettings[] = "Параметры";
inline constexpr char CaptionAllUsbAdapters[] = "Все USB-адаптеры";
inline constexpr char CaptionStartAddress[] = "Начальный адрес:";
inline constexpr char CaptionCount[] = "Количество:";
inline constexpr char CountUnlimited[] = "без ограничения";
inline constexpr char CaptionRegistry[] = "Реестр:";
inline constexpr char HintRegistry[] = "строка подключения; пусто: адреса этой станции";
inline constexpr char CaptionRunStart[] = "Пуск";
inline constexpr char CaptionRunStop[] = "Стоп";
inline constexpr char CaptionRunAbandon[] = "Прервать";
inline constexpr char CaptionReport[] = "Отчёт…";
inline constexpr char CaptionDone[] = "Готово:";
inline constexpr char CaptionFailed[] = "Ошибок:";
inline constexpr char CaptionNextAddress[] = "Следующий адрес:";
inline constexpr char CaptionElapsed[] = "Время:";
inline constexpr char CaptionPerHour[] = "Модемов в час:";
inline constexpr char CaptionRunJournal[] = "Журнал запуска (новые сверху):";
inline constexpr char RunStateRunning[] = "Идёт производство";
inline constexpr char RunStateStopping[] = "Остановка: модемы в работе заканчиваются. Ещё одно нажатие прерывает их.";
inline constexpr char RunStateAbandoning[] = "Прерывание: модемы в работе записываются в журнал как прерванные";
inline constexpr char RunStateFinished[] = "Производство закончено";
inline constexpr char ProductionCloseQuestion[] =
    "Идёт производство. Прервать его и закрыть окно? Модемы в работе будут записаны в журнал как прерванные.";
inline constexpr char ReportFileTitle[] = "Сохранить отчёт";
inline constexpr char ReportFileFilter[] = "Страница HTML (*.html)";
inline constexpr char ReportWritten[] = "Отчёт записан:";
inline constexpr char CaptionKeyDerivation[] = "Вычисление ключа…";
// Why a production run did not start; what the program said follows.
inline constexpr char ProductionNoJournalPlace[] =
    "Журнал вести негде: не найдена папка данных пользователя. Производство не начато.";
inline constexpr char ProductionJournalFailed[] = "Журнал не удалось открыть. Производство не начато.";
inline constexpr char ProductionRegistryFailed[] = "Реестр не удалось открыть. Производство не начато.";
inline constexpr char ReportJournalUnreadable[] = "Журнал не удалось прочитать. Отчёт не построен.";
inline constexpr char ReportNotWritten[] = "Отчёт не удалось записать.";
inline constexpr char ProductionKeyCancelled[] = "Вычисление ключа отменено. Производство не начато.";
// The production window's command line (vorsal --production); %1.. are
// filled in.
inline constexpr char OptionUnknown[] = "Неизвестный параметр командной строки %1.";
inline constexpr char OptionKeyOnCommandLine[] =
    "Имя ключа в командной строке видят все пользователи компьютера. Задайте его файлом: --key-file ФАЙЛ.";
inline constexpr char OptionUnexpected[] = "Лишний аргумент командной строки %1.";
inline constexpr char OptionWithoutProduction[] = "Параметр %1 действует только вместе с --production.";
inline constexpr char OptionNeedsValue[] = "Параметру %1 нужно значение.";
inline constexpr char OptionTakesNoValue[] = "Параметр %1 не принимает значения.";
inline constexpr char OptionNumber[] = "Параметр %1 принимает целое число от %2 до %3, а не %4.";
inline constexpr char OptionNetwork[] =
    "Неизвестная сетка %1: допустимы service (технологическая) и working (рабочая).";
inline constexpr char OptionStartNotInNetwork[] =
    "Начальный адрес %1 недопустим в сетке «%2»: допустимы адреса от %3 до %4.";
inline constexpr char OptionRunNeeds[] = "Для --run нужны --start и --network.";
inline constexpr char OptionKeyFileStdin[] =
    "У окна нет стандартного ввода: укажите в --key-file файл с именем ключа.";
inline constexpr char OptionKeyFileUnread[] = "Имя ключа не прочитано из файла %1: %2.";
inline constexpr char OptionKeyFileEmpty[] = "В файле %1 нет имени ключа: его первая строка пуста.";
inline constexpr char OptionUsage[] = "Командная строка окна производства:\n%1";
inline constexpr char MenuHelp[] = "Помощь";
inline constexpr char MenuHelpGetHelp[] = "Чтобы получить помощь нажмите F1";
inline constexpr char ErrorBoxTitle[] = "Error";
inline constexpr char PortOpenFailedPrefix[] = "Ошибка открытия COM-порта! (";
inline constexpr char CurrentParamsInvalid[] = "Внимание! Текущие параметры модема неверны!";

// The key dialogs.
inline constexpr char CaptionHashCalculate[] = "Вычисление бинарного ключа, подождите, пожалуйста ...";
inline constexpr char CaptionKeyTransfer[] = "Перенос ключа в модем";
inline constexpr char KeyTransferFailed[] = "Внимание! Перенос ключа в модем не состоялся!";
inline constexpr char CaptionCancel[] = "Cancel";
inline constexpr char FontKeyHex[] = "Courier New";
inline constexpr char NoKeyHex[] = "0000000000000000000000000000000000000000000000000000000000000000";

// Key names that the key file or the hash cannot take as typed.
inline constexpr char KeyNameNotCp1251[] =
    "Имя ключа содержит символы, которых нет в кодировке Windows-1251. "
    "Ключ не вычислен и в модем не перенесён.";
inline constexpr char StoredKeyDamaged[] =
    "Значение этого имени в Keys.ini не является ключом (64 шестнадцатеричные цифры). "
    "Ключ в модем не перенесён. Исправьте или удалите запись в Keys.ini.";
inline constexpr char KeyNameNotStored[] =
    "Имя ключа нельзя сохранить в Keys.ini: оно содержит \"=\" или перевод строки либо начинается "
    "с \"[\" или \";\". Ключ вычислен и будет перенесён в модем, но в Keys.ini не записан.";

inline constexpr char KeyNameEmpty[] = "Имя ключа не задано. Впишите имя ключа или выберите его из списка.";

inline constexpr char HelpNotOpened[] =
    "Справку не удалось открыть: нет программы для просмотра HTML-файлов. Откройте файл руководства "
    "в браузере:";

inline constexpr char HelpFileMissing[] =
    "Справка не найдена: файла Vorsal.html нет ни рядом с программой, ни в установленной документации.";

// A derived key that Keys.ini could not take; the reason follows.
inline constexpr char KeyNotCached[] =
    "Ключ вычислен и будет перенесён в модем, но сохранить его в Keys.ini не удалось:";

}  // namespace vorsal::texts

namespace vorsal {

// Status bar texts. In the byte-count text the letter before the equals sign
// is the Latin o; the displays depend on that exact text.
inline constexpr std::string_view ByteCountText = " Байт принятo = ";
inline constexpr std::string_view PortOpenText = "COM-порт открыт.";
inline constexpr std::string_view PortClosedText = "COM-порт не открыт!";
inline constexpr std::string_view ExchangeOkText = "OK";
inline constexpr std::string_view ExchangeErrorText = "Ошибка!";

}  // namespace vorsal
