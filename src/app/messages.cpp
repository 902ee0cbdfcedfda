// The message catalogue of messages.h in one place.

#include "app/messages.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"

namespace kestrova {

// The message catalogue of messages.h: every id's English text (the command-line tool's,
// and what() of the core's errors) beside its Japanese text (the window's).

namespace {

struct MessageTexts {
  const char* english;
  const char* japanese;
};

// No default: the compiler insists on both texts for every id.
MessageTexts Texts(MessageId id) {
  switch (id) {
    case MessageId::kFileCannotOpen:
      return {"{1}: cannot open: {2}", "ファイル「{1}」を開けません。\r\n{2}"};
    case MessageId::kFileCannotRead:
      return {"{1}: cannot read: {2}", "ファイル「{1}」を読み込めません。\r\n{2}"};
    case MessageId::kFileReadFailed:
      return {"{1}: cannot read", "ファイル「{1}」を読み込めません。"};
    case MessageId::kIsFolder:
      return {"{1}: is a folder", "「{1}」はフォルダです。ファイルを指定してください。"};
    case MessageId::kReadOnly:
      return {"{1} is read-only", "ファイル「{1}」は読み取り専用のため、保存できません。"};
    case MessageId::kCannotWrite:
      return {"{1}: cannot write: {2}", "ファイル「{1}」に書き込めません。\r\n{2}"};
    case MessageId::kCannotSetPermissions:
      return {"{1}: cannot set permissions: {2}",
              "ファイル「{1}」のアクセス許可を設定できません。\r\n{2}"};
    case MessageId::kCannotReplace:
      return {"{1}: cannot replace: {2}", "ファイル「{1}」を置き換えられません。\r\n{2}"};
    case MessageId::kCannotFollowLink:
      return {"{1}: cannot follow the link: {2}",
              "ファイル「{1}」のリンク先をたどれません。\r\n{2}"};
    case MessageId::kTooManyLinks:
      return {"{1}: too many symbolic links",
              "ファイル「{1}」はシンボリックリンクが多すぎるため、リンク先をたどれません。"};
    case MessageId::kTemporaryCannotCreate:
      return {"cannot create a temporary file in {1}: {2}",
              "一時ファイルを「{1}」に作成できません。\r\n{2}"};
    case MessageId::kTemporaryCannotWrite:
      return {"a temporary file in {1} cannot be written: {2}",
              "「{1}」の一時ファイルに書き込めません。\r\n{2}"};
    case MessageId::kTemporaryCannotRead:
      return {"a temporary file in {1} cannot be read: {2}",
              "「{1}」の一時ファイルを読み込めません。\r\n{2}"};
    case MessageId::kNotText:
      return {"{1}: this is not a text file (it holds NUL bytes); nothing was loaded",
              "ファイル「{1}」はテキストファイルではありません（NUL バイトを含んでいます）。"
              "何も読み込みませんでした。"};
    case MessageId::kFewerThanTwoLines:
      return {"{1}: the file has fewer than two lines; nothing was loaded",
              "{1}: 2 行に満たないファイルのため、読み込みませんでした。"};
    case MessageId::kClosingFlagNotInteger:
      return {"{1}:{2}: the closing flag \"{3}\" of parcel \"{4}\" is not an integer",
              "ファイル「{1}」の {2} 行目を読み込めません。何も読み込みませんでした。\r\n"
              "区画「{4}」の閉合フラグ「{3}」が整数ではありません。"};
    case MessageId::kNoPointRead:
      return {"no point could be read from {1}",
              "ファイル「{1}」からは点を 1 つも読み込めませんでした。何も読み込んでいません。"};
    case MessageId::kConvertedFromUnicode:
      return {"{1}: the Unicode (UTF-8 or UTF-16) file was converted to Shift_JIS",
              "Unicode（UTF-8 または UTF-16）のファイルを Shift_JIS に変換して読み込みました。"};
    case MessageId::kReplacedCharacters:
      return {
          "{1}: {2} characters of this Unicode file have no Shift_JIS form and were read as "
          "\"?\"",
          "Shift_JIS で表せない {2} 文字を「?」に置き換えました。"};
    case MessageId::kNotANumberField:
    case MessageId::kNotANumberFields:
      return {id == MessageId::kNotANumberField
                  ? "{1}:{2}: {3} field is not a number and read as 0 (a point number as its "
                    "row's); the first is on this line"
                  : "{1}:{2}: {3} fields are not a number and read as 0 (a point number as its "
                    "row's); the first is on this line",
              "{1}:{2}: 数値として読めない値 {3} 個を 0（点番号は行番号）として読み込みました。"
              "最初の値はこの行にあります。"};
    case MessageId::kUnclosedParcel:
      return {
          "{1}:{2}: the parcel opened here has no closing \"D99\" record; it was ended where "
          "the next block or the file ends",
          "{1}:{2}: この行の D00 に終わりの D99 がないため、"
          "次のブロックかファイルの終わりまでとしました。"};
    case MessageId::kUnclosedPolyline:
      return {
          "{1}:{2}: the polyline opened here has no closing \"F99\" record; it was ended "
          "where the next block or the file ends",
          "{1}:{2}: この行の F00 に終わりの F99 がないため、"
          "次のブロックかファイルの終わりまでとしました。"};
    case MessageId::kMoreUnclosedBlocks:
      return {"{1}: {2} more blocks have no closing record",
              "ほかに終わりのないブロックが {2} 個あります。"};
    case MessageId::kRepeatedNumber:
    case MessageId::kRepeatedNumbers:
      return {id == MessageId::kRepeatedNumber
                  ? "{1}: {2} point repeats a point number of the files loaded before; parcels "
                    "that name such a number use the earlier point"
                  : "{1}: {2} points repeat point numbers of the files loaded before; parcels "
                    "that name such a number use the earlier point",
              "{2} 点の点番号が先に読み込んだ点と重なっています。"
              "その番号を使う区画は先の点を使います。"};
    case MessageId::kUnsplitLine:
    case MessageId::kUnsplitLines:
      return {id == MessageId::kUnsplitLine
                  ? "{1}:{2}: {3} line does not split into fields at the separator {4} that the "
                    "file's first line uses and was left out; it is this line"
                  : "{1}:{2}: {3} lines do not split into fields at the separator {4} that the "
                    "file's first line uses and were left out; the first is this line",
              "{1}:{2}: 先頭行の区切り文字 {4} で項目に分けられない {3} 行を読み飛ばしました。"
              "最初の行はこの行です。"};
    case MessageId::kLinesNotUtf8:
      return {
          "{1}:{2}: {3} lines of this UTF-8 file are not UTF-8 and were read as Shift_JIS; "
          "the first is this line",
          "{1}:{2}: UTF-8 のファイルのうち UTF-8 でない {3} 行を Shift_JIS として読み込みました。"
          "最初の行はこの行です。"};
    case MessageId::kUtf8ReadAsSjis:
      return {
          "{1}:{2}: read as Shift_JIS, although {3} lines are also valid UTF-8: as UTF-8 "
          "they would hold characters no survey file holds; the first is this line",
          "{1}:{2}: Shift_JIS として読み込みました。{3} 行は UTF-8 としても読めますが、"
          "UTF-8 では測量データにない文字になります。最初の行はこの行です。"};
    case MessageId::kSettingsNotText:
      return {"{1}: this is not a settings file (an INI text file); nothing was read from it",
              "ファイル「{1}」は設定ファイル（INI 形式のテキスト）ではありません。"
              "読み込みませんでした。"};
    case MessageId::kSettingNotANumber:
      return {"{1}: [{2}] {3}={4} is not a number; {5} is used instead",
              "{1}: [{2}] {3}={4} は数値ではないため、{5} を使います。"};
    case MessageId::kCircleDiameterNotPositive:
      return {"the circle diameter (Point.EnkoR) is {1}; set a diameter above 0, e.g. 1",
              "円直径（Point.EnkoR）が {1} です。0 より大きい値（例: 1）を設定してください。"};
    case MessageId::kBlockNotSaved:
    case MessageId::kBlocksNotSaved:
      return {id == MessageId::kBlockNotSaved
                  ? "{1}: {2} parcel or polyline was not saved: only a SIMA file holds them"
                  : "{1}: {2} parcels and polylines were not saved: only a SIMA file holds them",
              "{1}\r\n区画と折れ線 {2} 個は保存されませんでした。SIMA 形式のファイルだけが"
              "保存できます。"};
  }
  return {"", ""};
}

// The system's reasons a load or save most often meets, as the window says them; others
// keep the system's own words.
const char* JapaneseReason(int systemError) {
  switch (systemError) {
    case ENOENT:
      return "ファイルまたはフォルダが見つかりません。";
    case EACCES:
    case EPERM:
      return "アクセスが拒否されました。";
    case ENOSPC:
      return "ディスクの空き領域が不足しています。";
#ifdef EDQUOT
    case EDQUOT:
      return "ディスクの使用量の上限を超えています。";
#endif
    case EROFS:
      return "読み取り専用のドライブです。";
    case EISDIR:
      return "フォルダです。";
    case ENOTDIR:
      return "パスの途中にフォルダでないものがあります。";
    case ENAMETOOLONG:
      return "ファイル名が長すぎます。";
    case EIO:
      return "入出力エラーが発生しました。";
    case EMFILE:
    case ENFILE:
      return "開いているファイルが多すぎます。";
    default:
      return nullptr;
  }
}

}  // namespace

const char* MessageTemplate(MessageId id, Language language) {
  const MessageTexts texts = Texts(id);
  return language == Language::kJapanese ? texts.japanese : texts.english;
}

std::string MessageText(MessageId id, const std::vector<std::string>& args, Language language) {
  const std::string_view text = MessageTemplate(id, language);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t close = text[i] == '{' ? text.find('}', i) : std::string_view::npos;
    if (close != std::string_view::npos && close > i + 1 && close - i <= 3) {
      const std::string_view digits = text.substr(i + 1, close - i - 1);
      if (std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        const size_t n = static_cast<size_t>(std::stoi(std::string(digits)));
        if (n >= 1 && n <= args.size()) out += args[n - 1];
        i = close;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

std::string EnglishMessage(MessageId id, const std::vector<std::string>& args) {
  return MessageText(id, args, Language::kEnglish);
}

std::string WindowText(const std::exception& failure) {
  const auto* error = dynamic_cast<const Error*>(&failure);
  if (error == nullptr || !error->HasId()) return failure.what();
  std::vector<std::string> args = error->Args();
  if (error->SystemError() != 0 && !args.empty()) {
    if (const char* reason = JapaneseReason(error->SystemError())) args.back() = reason;
  }
  return MessageText(error->Id(), args, Language::kJapanese);
}

}  // namespace kestrova
