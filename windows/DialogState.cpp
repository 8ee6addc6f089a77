#include "DialogState.h"

#include "WebAddress.h"

int NormalizeLanguage(std::uint32_t stored) { return stored == 1 ? kRussian : kEnglish; }

unsigned StringResourceId(int language, int n) { return 10000u + 1000u * static_cast<unsigned>(language) + n; }

std::wstring DialogTemplateName(int language) { return L"Main" + std::to_wstring(language); }

const char* WebPageAddress(int language) { return language == kRussian ? TOVACREX_WEB_PAGE_RU : TOVACREX_WEB_PAGE_EN; }

std::wstring BracketedLower(const std::wstring& text) {
  std::wstring out = L"[";
  // ASCII only: the Russian words keep their capitals.
  for (wchar_t c : text) out.push_back(c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c);
  out.push_back(L']');
  return out;
}

std::wstring StatusText(std::uint8_t fileStatus, TCodecId currentCodec, const TUiStrings& strings) {
  switch (fileStatus) {
    case fsOk:
      return currentCodec == kUnknownCodec ? strings[usUnknownCodec] : std::wstring();
    case fsNotFound:
      return strings[usNotFound];
    case fsCannotOpen:
      return strings[usCannotOpen];
    case fsCannotWrite:
      return strings[usCannotWrite];
    case fsNotAvi:
      return strings[usNotAvi];
    case fsCannotCreateStream:
      return strings[usCannotCreateStream];
    case fsScanFailed:
      return strings[usCannotCreateReader];
  }
  // Not a status the driver sets; treat it like a missing file.
  return strings[usNotFound];
}

TDialogView DescribeDialog(const std::wstring& fileName, const TAppState& state, const TUiStrings& strings) {
  TDialogView view;
  if (fileName.empty()) {
    view.FileText = BracketedLower(strings[usNo]);
    view.CodecText = BracketedLower(strings[usUnknown]);
    return view;
  }
  view.FileText = fileName;
  const TCodecId codec = state.CurrentCodec;
  if (state.FileStatus != fsOk || codec < kFirstCodec || codec > kLastCodec) {
    view.CodecText = StatusText(state.FileStatus, codec, strings);
    return view;
  }
  for (TCodecId target : OfferedTargets(codec))
    view.Entries.push_back(TargetEntryText(target, state.OriginalCodec, strings[usOriginalMark]));
  // A single target is converted to, but there is nothing to choose.
  view.ListEnabled = view.Entries.size() > 1;
  view.SaveEnabled = true;
  const char* name = CodecNames[codec];
  view.CodecText.assign(name, name + std::char_traits<char>::length(name));  // names are ASCII
  return view;
}

std::wstring OpenFileFilter(const TUiStrings& strings) {
  std::wstring filter;
  filter += strings[usVideoFiles] + L" (*.avi)";
  filter.push_back(L'\0');
  filter += L"*.AVI";
  filter.push_back(L'\0');
  filter += strings[usAllFiles];
  filter.push_back(L'\0');
  filter += L"*.*";
  filter.push_back(L'\0');
  filter.push_back(L'\0');
  return filter;
}

namespace {

bool IsSeparator(char c) {
  auto u = static_cast<unsigned char>(c);
  return u >= 1 && u <= 32;
}

// Reads one argument at pos and moves pos past it.
std::string NextArgument(std::string_view line, std::size_t& pos) {
  for (;;) {
    while (pos < line.size() && IsSeparator(line[pos])) ++pos;
    // An empty quoted pair is no argument.
    if (pos + 1 < line.size() && line[pos] == '"' && line[pos + 1] == '"')
      pos += 2;
    else
      break;
  }
  std::string arg;
  while (pos < line.size() && line[pos] != '\0' && !IsSeparator(line[pos])) {
    if (line[pos] == '"') {
      ++pos;
      while (pos < line.size() && line[pos] != '\0' && line[pos] != '"') arg.push_back(line[pos++]);
      if (pos < line.size() && line[pos] == '"') ++pos;
    } else {
      arg.push_back(line[pos++]);
    }
  }
  return arg;
}

}  // namespace

std::string FirstArgument(std::string_view commandLine) {
  std::size_t pos = 0;
  NextArgument(commandLine, pos);  // the program's own path
  return NextArgument(commandLine, pos);
}
