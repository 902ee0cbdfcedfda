// The message catalogue of messages.h in one place.

#include "app/messages.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <new>
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
    case MessageId::kWrittenNotRead:
      return {
          "{1}: a {2} file is written, not read, as a list of points; nothing was loaded. "
          "Read the site's coordinate file, or its GeoPackage, GeoJSON or Shapefile export",
          "ファイル「{1}」は {2} ファイルで、書き出すだけで座標データとしては読み込めません。"
          "何も読み込みませんでした。現場の座標ファイルか、GeoPackage・GeoJSON・Shapefile に"
          "書き出したファイルを開いてください。"};
    case MessageId::kFewerThanTwoLines:
      return {"{1}: the file has fewer than two lines; nothing was loaded",
              "{1}: 2 行に満たないファイルのため、読み込みませんでした。"};
    case MessageId::kLaterFilesNotLoaded:
      return {"the files after it were not loaded either: {1}",
              "その後のファイルも読み込んでいません：{1}"};
    case MessageId::kClosingFlagNotInteger:
      return {"{1}:{2}: the closing flag \"{3}\" of parcel \"{4}\" is not an integer",
              "ファイル「{1}」の {2} 行目を読み込めません。何も読み込みませんでした。\r\n"
              "区画「{4}」の閉合フラグ「{3}」が整数ではありません。"};
    case MessageId::kNoPointRead:
      return {"no point could be read from {1}",
              "ファイル「{1}」からは点を 1 つも読み込めませんでした。何も読み込んでいません。"};
    case MessageId::kNoApaPointRead:
      return {
          "no point could be read from {1}: it was read as an APA file, as its first line "
          "begins with \"A\" and a field beginning with \"0\"",
          "ファイル「{1}」は、1 行目が「A」と「0」で始まる欄からなるため APA 形式として"
          "読みましたが、点を 1 つも読み込めませんでした。何も読み込んでいません。"};
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
                  ? "{1}:{2}: {3} field is not a number and read as 0 (a SIMA point number as "
                    "its row's); the first is on this line"
                  : "{1}:{2}: {3} fields are not a number and read as 0 (a SIMA point number as "
                    "its row's); the first is on this line",
              "{1}:{2}: 数値として読めない値 {3} 個を 0（SIMA の点番号は行番号）として読み込み"
              "ました。最初の値はこの行にあります。"};
    case MessageId::kTextCut:
    case MessageId::kTextsCut:
      return {id == MessageId::kTextCut
                  ? "{1}:{2}: {3} text is longer than its field (a name or remarks 255 bytes, a "
                    "mark 15) and was cut"
                  : "{1}:{2}: {3} texts are longer than their fields (a name or remarks 255 "
                    "bytes, a mark 15) and were cut; the first is on this line",
              "{1}:{2}: 欄に入る長さ（点名・区画名・備考は 255 バイト、マークは 15 バイト）を超える"
              "文字列 {3} 個を切り詰めて読み込みました。最初の文字列はこの行にあります。"};
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
    case MessageId::kRepeatedWithin:
    case MessageId::kRepeatedWithinMany:
      return {id == MessageId::kRepeatedWithin
                  ? "{1}: {2} point repeats the number of a point before it in the file (number "
                    "{3}); parcels that name the number use the first point"
                  : "{1}: {2} points repeat numbers of points before them in the file (number "
                    "{3}, the first); parcels that name such a number use the first point",
              "ファイル内で {2} 点の点番号が前の点と重なっています（最初は点番号 {3}）。"
              "その番号を使う区画は最初の点を使います。"};
    case MessageId::kMisspeltRecords:
      return {
          "{1}:{2}: SIMA records whose code is written with blanks or in lower case (\"{4}\" "
          "on this line, the first), which SIMA does not allow, were left out: {3}",
          "{1}:{2}: 記録の種類が空白付きまたは小文字（この行の「{4}」など）のため、"
          "SIMA の記録として {3} 行を読み飛ばしました。"};
    case MessageId::kMisspeltApaRecords:
      return {
          "{1}:{2}: APA records whose code is written with blanks or in lower case (\"{4}\" "
          "on this line, the first), which APA does not allow, were left out: {3}",
          "{1}:{2}: 記録の種類が空白付きまたは小文字（この行の「{4}」など）のため、"
          "APA の記録として {3} 行を読み飛ばしました。"};
    case MessageId::kApaPointsAfterEnd:
      return {
          "{1}:{2}: the file ends with the record \"Z\" on this line; point records "
          "(\"G\") after it were left out: {3}",
          "{1}:{2}: この行の終了記録「Z」でファイルが終わるため、その後の点の記録（G）"
          "{3} 行を読み飛ばしました。"};
    case MessageId::kOneLineNotReadBack:
      return {
          "{1}: a ZHY or CSV file of one point is a single line, which this program does "
          "not read back as points; keep two points or more in it, or save it as SIMA",
          "{1}\r\n点が 1 個だけの ZHY・CSV ファイルは 1 行になり、このプログラムでは"
          "読み込めません。2 点以上にするか、SIMA 形式で保存してください。"};
    case MessageId::kCommentsLikeRows:
      return {
          "{1}:{2}: lines before the first point that begin with \"#\" were left out as "
          "comments, though they read as points do: {3}, the first on this line",
          "{1}:{2}: 最初の点より前にある「#」で始まる {3} 行は、点と同じく読めますが、"
          "注記として読み飛ばしました。最初の行はこの行です。"};
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
          "{1}:{2}: lines of this UTF-8 file that are not UTF-8 were read as Shift_JIS "
          "({3} in all); the first is this line",
          "{1}:{2}: UTF-8 のファイルのうち UTF-8 でない {3} 行を Shift_JIS として読み込みました。"
          "最初の行はこの行です。"};
    case MessageId::kUtf8ReadAsSjis:
      return {
          "{1}:{2}: read as Shift_JIS, although lines are also valid UTF-8 ({3} in all): as "
          "UTF-8 they would hold characters no survey file holds; the first is this line",
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
    case MessageId::kMarkNotSaved:
    case MessageId::kMarksNotSaved:
      return {id == MessageId::kMarkNotSaved
                  ? "{1}: the mark and remarks of {2} point were not saved: only a ZHY or CSV "
                    "file holds them"
                  : "{1}: the marks and remarks of {2} points were not saved: only a ZHY or CSV "
                    "file holds them",
              "{1}\r\n点 {2} 個のマークと備考は保存されませんでした。ZHY 形式と CSV 形式の"
              "ファイルだけが保存できます。"};
    case MessageId::kTextSplit:
    case MessageId::kTextsSplit:
      return {id == MessageId::kTextSplit
                  ? "{1}: the name, mark or remarks of {2} point hold {3} or a line break, and "
                    "will not read back as written: the text splits into more fields"
                  : "{1}: the names, marks or remarks of {2} points hold {3} or a line break, "
                    "and will not read back as written: the text splits into more fields",
              "{1}\r\n点 {2} 個の点名・マーク・備考に区切りの{3}か改行が含まれているため、"
              "このファイルを読み込むと別の欄に分かれます。"};
    case MessageId::kBlockCutShort:
    case MessageId::kBlocksCutShort:
      return {id == MessageId::kBlockCutShort
                  ? "{1}: {2} parcel or polyline names a point that is not among the points "
                    "before it, and is drawn only up to there ({3})"
                  : "{1}: {2} parcels or polylines name a point that is not among the points "
                    "before them, and are drawn only up to there ({3} is the first)",
              "区画・折れ線 {2} 個は、それより前にない点を指しているため、その点の手前までしか"
              "描いていません（最初は {3}）。"};
    case MessageId::kTriangleLeftOut:
    case MessageId::kTrianglesLeftOut:
      return {id == MessageId::kTriangleLeftOut
                  ? "{1}: {2} triangle names a point that is not among the points before it, "
                    "and is left out of the drawing"
                  : "{1}: {2} triangles name a point that is not among the points before "
                    "them, and are left out of the drawing",
              "三角形 {2} 個は、それより前にない点を指しているため、描いていません。"};
    case MessageId::kHeadSplit:
      return {
          "{1}: the site name, a title, or a parcel's or polyline's name holds \",\" or a "
          "line break, and will not read back as written",
          "{1}\r\n現場名、表題、または区画か折れ線の名前に「,」か改行が含まれているため、"
          "このファイルは書いたとおりには読み込めません。"};
    case MessageId::kBlockNotSaved:
    case MessageId::kBlocksNotSaved:
      return {id == MessageId::kBlockNotSaved
                  ? "{1}: {2} parcel or polyline was not saved: only a SIMA file holds them"
                  : "{1}: {2} parcels and polylines were not saved: only a SIMA file holds them",
              "{1}\r\n区画と折れ線 {2} 個は保存されませんでした。SIMA 形式のファイルだけが"
              "保存できます。"};
    case MessageId::kCornerElsewhere:
    case MessageId::kCornersElsewhere:
      return {id == MessageId::kCornerElsewhere
                  ? "{1}: {2} corner of the parcels and polylines has the point number of a "
                    "point in an earlier row, and will read back as that point"
                  : "{1}: {2} corners of the parcels and polylines have the point number of a "
                    "point in an earlier row, and will read back as that point",
              "{1}\r\n区画・折れ線の点 {2} 個は、それより前の行の点と同じ点番号のため、"
              "このファイルを読み込むとその点になります。"};
    case MessageId::kPointCodeNotSaved:
    case MessageId::kPointCodesNotSaved:
      return {id == MessageId::kPointCodeNotSaved
                  ? "{1}: the point code of {2} point (from its mark or Point.Code) was written "
                    "as a plain point: a version {3} drawing holds no point codes"
                  : "{1}: the point codes of {2} points (from their marks or Point.Code) were "
                    "written as plain points: a version {3} drawing holds no point codes",
              "{1}\r\n点 {2} 個のコード番号（マーク、またはオプションの「コード番号」）は保存"
              "されませんでした。{3} の図面にはコード番号を保存できないため、普通の点として"
              "書き出しました。"};
    case MessageId::kUnmarkedNotSaved:
    case MessageId::kUnmarkedsNotSaved:
      return {id == MessageId::kUnmarkedNotSaved
                  ? "{1}: {2} point is unmarked, which a coordinate file cannot hold: read back, "
                    "it is marked and drawn"
                  : "{1}: {2} points are unmarked, which a coordinate file cannot hold: read "
                    "back, they are marked and drawn",
              "{1}\r\n印（*）の外れた点 {2} 個は、印のないことが保存されません。読み込み直すと"
              "印が付き、図面に書き出されます。"};
    case MessageId::kNumberNotSaved:
    case MessageId::kNumbersNotSaved:
      return {id == MessageId::kNumberNotSaved
                  ? "{1}: the point number of {2} point was not saved: an APA file numbers its "
                    "points by their rows"
                  : "{1}: the point numbers of {2} points were not saved: an APA file numbers "
                    "its points by their rows",
              "{1}\r\n点 {2} 個の点番号は保存されませんでした。APA 形式のファイルでは、"
              "点番号は行の順になります。"};
    case MessageId::kTemporaryWrittenAfterRead:
      return {"a temporary file in {1} was written after it was read",
              "「{1}」の一時ファイルに、読み込みを始めた後で書き込もうとしました。"};
    case MessageId::kTemporaryReadBeforeWritten:
      return {"a temporary file in {1} was read before it was written",
              "「{1}」の一時ファイルを、書き込みを終える前に読み込もうとしました。"};
    case MessageId::kTemporaryShorter:
      return {"a temporary file in {1} is shorter than it was written",
              "「{1}」の一時ファイルが、書き込んだときより短くなっています。"};
    case MessageId::kTextConverterMissing:
      return {"text converter \"{1}\" is not available: {2}",
              "文字コードの変換「{1}」を使用できません。\r\n{2}"};
    case MessageId::kTextConversionFailed:
      return {"text conversion failed: {1}", "文字コードを変換できませんでした。\r\n{1}"};
    case MessageId::kScaleNotUsable:
      return {"the drawing scale (WrtBAse.Scale) is {1}; set the scale denominator, e.g. 500",
              "縮尺（WrtBAse.Scale）が {1} のため、図面を作れません。"
              "環境設定で縮尺の分母（例：500）を設定してください。"};
    case MessageId::kPointTooFar:
      return {
          "point {1} \"{2}\" (row {3}, X {4}, Y {5}) cannot be drawn at 1:{6}: it lies too far "
          "from the base point (the drawing coordinates are not finite)",
          "点番号 {1}「{2}」（{3} 行目、X {4}、Y {5}）は基準点から遠すぎるため、"
          "縮尺 1/{6} の図面に描けません。"};
    case MessageId::kLineTooFar:
      return {
          "a parcel or polyline line from X {1}, Y {2} cannot be drawn at 1:{3}: it lies too "
          "far from the base point (the drawing coordinates are not finite)",
          "X {1}、Y {2} から引く区画または折れ線の線は基準点から遠すぎるため、"
          "縮尺 1/{3} の図面に描けません。"};
    case MessageId::kLabelTooFar:
      return {
          "the label of parcel \"{1}\" cannot be drawn at 1:{2}: it lies too far from the "
          "base point (the drawing coordinates are not finite)",
          "地番「{1}」は基準点から遠すぎるため、縮尺 1/{2} の図面に描けません。"};
    case MessageId::kCircleTooLarge:
      return {"the circle diameter (Point.EnkoR) {1} is too large for a drawing at 1:{2}",
              "円の直径（Point.EnkoR）{1} は縮尺 1/{2} の図面には大きすぎます。"};
    case MessageId::kTextKindNotFinite:
      return {"text kind {1} has a size that is not finite",
              "文字種 {1} の大きさが有限の数値ではないため、図面を作れません。"};
    case MessageId::kCannotWriteDrawing:
      return {"{1}: cannot write the drawing: {2}", "図面ファイル「{1}」を保存できません。\r\n{2}"};
    case MessageId::kCannotBuildClipboardDrawing:
      return {"cannot build the clipboard drawing: {1}",
              "クリップボードに渡す図面を作れません。\r\n{1}"};
    case MessageId::kClipboardBusy:
      return {"the clipboard is held by another program",
              "クリップボードはほかのプログラムが使用中です。"};
    case MessageId::kClipboardCannotRegisterFormat:
      return {"cannot register the clipboard format \"{1}\": {2}",
              "クリップボード形式「{1}」を登録できません。\r\n{2}"};
    case MessageId::kClipboardNoMemory:
      return {"no memory for the clipboard data: {1}",
              "クリップボードに渡すデータのメモリを確保できません。\r\n{1}"};
    case MessageId::kClipboardCannotPrepare:
      return {"cannot prepare the clipboard data: {1}",
              "クリップボードに渡すデータを用意できません。\r\n{1}"};
    case MessageId::kClipboardCannotOpen:
      return {"cannot open the clipboard: {1}", "クリップボードを開けません。\r\n{1}"};
    case MessageId::kClipboardCannotEmpty:
      return {"cannot empty the clipboard: {1}", "クリップボードを空にできません。\r\n{1}"};
    case MessageId::kClipboardCannotClose:
      return {"cannot close the clipboard: {1}", "クリップボードを閉じられません。\r\n{1}"};
    case MessageId::kClipboardCannotPut:
      return {"cannot put the drawing on the clipboard: {1}",
              "図面をクリップボードに置けません。\r\n{1}"};
    case MessageId::kClipboardCannotReadBack:
      return {"cannot read back the drawing from the clipboard: {1}",
              "クリップボードに置いた図面を読み返せません。\r\n{1}"};
    case MessageId::kRegistryFileUnknown:
      return {
          "{1}: not a registry file (it does not begin with \"Windows Registry Editor "
          "Version 5.00\", \"REGEDIT4\" or \"WINE REGISTRY Version 2\")",
          "ファイル「{1}」はレジストリのファイルではありません（先頭が"
          "「Windows Registry Editor Version 5.00」「REGEDIT4」「WINE REGISTRY Version 2」"
          "のどれでもありません）。"};
    case MessageId::kRegistryKeyUnclosed:
      return {"{1}:{2}: a key without its closing \"]\"",
              "ファイル「{1}」の {2} 行目を読み込めません。キーを閉じる「]」がありません。"};
    case MessageId::kRegistryTextUnclosed:
      return {"{1}:{2}: a text without its closing quote",
              "ファイル「{1}」の {2} 行目を読み込めません。文字列を閉じる引用符がありません。"};
    case MessageId::kRegistryValueWithoutEquals:
      return {"{1}:{2}: a value without \"=\"",
              "ファイル「{1}」の {2} 行目を読み込めません。値に「=」がありません。"};
    case MessageId::kRegistryNotDword:
      return {"{1}:{2}: \"{3}\" is not a DWORD value",
              "ファイル「{1}」の {2} 行目を読み込めません。「{3}」は DWORD 値ではありません。"};
    case MessageId::kJwCadSettingNotHex:
      return {"{1}: Jw_cad setting {2}\\{3}: \"{4}\" is not a hexadecimal number",
              "{1}: Jw_cad の設定 {2}\\{3} の値「{4}」は 16 進数ではありません。"};
    case MessageId::kJwCadSettingNotInteger:
      return {"{1}: Jw_cad setting {2}\\{3}: \"{4}\" is not an integer",
              "{1}: Jw_cad の設定 {2}\\{3} の値「{4}」は整数ではありません。"};
    case MessageId::kJwCadSettingMissing:
      return {"{1}: Jw_cad setting {2}\\{3}: the value is missing",
              "{1}: Jw_cad の設定 {2}\\{3} の値がありません。"};
    case MessageId::kJwCadSettingNotDword:
      return {"{1}: Jw_cad setting {2}\\{3}: the value is not a DWORD",
              "{1}: Jw_cad の設定 {2}\\{3} の値が DWORD 値ではありません。"};
    case MessageId::kJwCadSettingNotText:
      return {"{1}: Jw_cad setting {2}\\{3}: the value is not text",
              "{1}: Jw_cad の設定 {2}\\{3} の値が文字列ではありません。"};
    case MessageId::kPrinterNoUsablePage:
      return {
          "the printer reports no usable page ({1} x {2} pixels at {3} x {4} dpi); check the "
          "printer set-up",
          "プリンタから使える用紙の大きさが得られません（{1} × {2} ピクセル、"
          "{3} × {4} dpi）。プリンタの設定を確認してください。"};
    case MessageId::kPrintLayoutOutOfRange:
      return {"cannot lay out the coordinate list: {1} is out of range",
              "プリンタまたは画面から得た値が範囲を超えているため、座標一覧を印刷できません。"};
    case MessageId::kScreenNoResolution:
      return {"cannot lay out the coordinate list: the screen reports no resolution",
              "画面の解像度が得られないため、座標一覧を印刷できません。"};
    case MessageId::kGridNoRowsToPrint:
      return {"the grid has no rows to print", "印刷する行がありません。"};
    case MessageId::kPageTooSmall:
      return {
          "the page is too small for the coordinate list: the header and one row need {1} mm "
          "of height, the page leaves {2} mm between its margins; nothing was printed. "
          "Choose a larger paper or lower rows in the grid",
          "用紙が小さすぎるため、座標一覧を印刷できません。見出しと 1 行には高さ {1} mm "
          "が必要ですが、用紙の余白の間は {2} mm です。何も印刷しませんでした。"
          "大きい用紙を選ぶか、表の行の高さを低くしてください。"};
    case MessageId::kPrintCannotStart:
      return {
          "cannot start printing on {1}; check that the printer is ready or the file can be "
          "written",
          "「{1}」で印刷を始められません。プリンタの準備ができているか、"
          "ファイルに書き込めるかを確認してください。"};
    case MessageId::kPrintNotStarted:
      return {"printing has not started", "印刷が始まっていません。"};
    case MessageId::kPrinterRefusedPage:
      return {"the printer {1} did not accept a further page",
              "プリンタ「{1}」が次のページを受け付けませんでした。"};
    case MessageId::kPrintFailed:
      return {"printing on {1} failed; the job was not completed",
              "「{1}」での印刷に失敗しました。印刷は完了していません。"};
    case MessageId::kNoPrinter:
      return {"no printer is installed",
              "プリンタがありません。Windows の設定でプリンタを追加してから、もう一度操作して"
              "ください。"};
    case MessageId::kGisFormatUnknown:
      return {"\"{1}\" is not a format that can be written",
              "「{1}」は書き出せる形式ではありません。"};
    case MessageId::kGisFormatNeedsSystem:
      return {"{1} needs a coordinate system: {2}",
              "{1} には座標系が必要です。座標系を選んでください。"};
    case MessageId::kGisParcelNoArea:
    case MessageId::kGisParcelsNoArea:
      return {
          id == MessageId::kGisParcelNoArea
              ? "{1}: {2} parcel has no area: a boundary point is not in the table or there "
                "are fewer than three; its boundary line was written as far as its points "
                "go, and nothing where that is fewer than two"
              : "{1}: {2} parcels have no area: a boundary point is not in the table or "
                "there are fewer than three; their boundary lines were written as far as "
                "their points go, and nothing where that is fewer than two",
          "{1}\r\n区画 {2} 個は境界点が表にないか 3 点に満たないため面にできず、"
          "境界線を表にある点まで書き出しました（2 点に満たない区画は何も書き出していません）。"};
    case MessageId::kGisTriangleLeftOut:
    case MessageId::kGisTrianglesLeftOut:
      return {id == MessageId::kGisTriangleLeftOut
                  ? "{1}: {2} triangle names a point that is not in the table and was left out"
                  : "{1}: {2} triangles name a point that is not in the table and were left out",
              "{1}\r\n三角形 {2} 個は表にない点を使っているため、書き出しませんでした。"};
    case MessageId::kGisVertexOnPoints:
    case MessageId::kGisVerticesOnPoints:
      return {id == MessageId::kGisVertexOnPoints
                  ? "{1}: {2} vertex of the parcels and polylines stands where more than one "
                    "point stands, and was taken for the first of them read"
                  : "{1}: {2} vertices of the parcels and polylines stand where more than one "
                    "point stands, and were taken for the first of them read",
              "{1}\r\n区画・折れ線の頂点 {2} 個は、同じ位置に複数の点があるため、最初に読み込んだ"
              "点を通るものとしました。"};
    case MessageId::kGisBlanksDropped:
    case MessageId::kGisBlanksDroppedMany:
      return {id == MessageId::kGisBlanksDropped
                  ? "{1}: {2} point has a name, mark or remarks beginning or ending with blanks, "
                    "which programs reading a Shapefile drop; GeoPackage keeps them"
                  : "{1}: {2} points have a name, mark or remarks beginning or ending with "
                    "blanks, which programs reading a Shapefile drop; GeoPackage keeps them",
              "{1}\r\n点名・マーク・備考の前後に空白のある点が {2} 個あります。Shapefile を読む"
              "プログラムは、この空白を除きます。GeoPackage では除かれません。"};
    case MessageId::kGisKmlBlanksDropped:
    case MessageId::kGisKmlBlanksDroppedMany:
      return {id == MessageId::kGisKmlBlanksDropped
                  ? "{1}: {2} point has a name, mark or remarks beginning with blanks, which a "
                    "KML file drops; GeoPackage keeps them"
                  : "{1}: {2} points have a name, mark or remarks beginning with blanks, which "
                    "a KML file drops; GeoPackage keeps them",
              "{1}\r\n点名・マーク・備考の先頭に空白のある点が {2} 個あります。KML ファイルでは"
              "この空白が除かれます。GeoPackage では除かれません。"};
    case MessageId::kGisPointFar:
    case MessageId::kGisPointsFar:
      return {id == MessageId::kGisPointFar
                  ? "{1}: {2} point lies more than 100 km outside the area {3} is meant for; "
                    "check its X and Y and the survey system (point {4})"
                  : "{1}: {2} points lie more than 100 km outside the area {3} is meant for; "
                    "check their X and Y and the survey system (point {4} is the first)",
              id == MessageId::kGisPointFar
                  ? "{1}\r\n{3} の適用範囲から 100 km 以上離れた点が {2} 個あります。X・Y と"
                    "座標系を確かめてください（点番号 {4}）。"
                  : "{1}\r\n{3} の適用範囲から 100 km 以上離れた点が {2} 個あります。X・Y と"
                    "座標系を確かめてください（最初は点番号 {4}）。"};
    case MessageId::kGisTextCut:
    case MessageId::kGisTextsCut:
      return {id == MessageId::kGisTextCut
                  ? "{1}: {2} text is longer than the 254 bytes of a Shapefile field and was "
                    "cut; GeoPackage keeps it whole"
                  : "{1}: {2} texts are longer than the 254 bytes of a Shapefile field and were "
                    "cut; GeoPackage keeps them whole",
              "{1}\r\n文字列 {2} 個は Shapefile の項目の 254 バイトを超えるため、"
              "切り詰めました。GeoPackage では切り詰めません。"};
    case MessageId::kGisMadeInMemory:
      return {"{1}: no temporary folder could be made ({2}); the export was made in memory",
              "{1}\r\n一時フォルダを作成できないため、メモリ上で書き出しました。"};
    case MessageId::kGisSystemUnknown:
      return {"{1} is not a coordinate system PROJ knows; {2}",
              "{1} は使用できる座標系ではありません。平面直角座標系を選んでください。"};
    case MessageId::kGisSystemNotPlane:
      return {"{1} ({2}) is not a plane coordinate system, so survey X and Y cannot be in it; {3}",
              "{1}（{2}）は平面直角座標系ではないため、測量の X・Y を表せません。"
              "平面直角座標系を選んでください。"};
    case MessageId::kGisCannotRead:
      return {"{1}: cannot be read as a GeoPackage, GeoJSON or Shapefile{2}",
              "ファイル「{1}」を GeoPackage、GeoJSON、Shapefile のどれとしても読み込めません。"};
    case MessageId::kGisNoPointLayer:
      return {"{1}: has no layer of points (named \"points\" or holding points)",
              "ファイル「{1}」には点のレイヤ（名前が「points」のもの、または点を含むもの）が"
              "ありません。"};
    case MessageId::kGisSystemCannotConvert:
      return {"{1}: the points' system {2} cannot be converted to {3}{4}",
              "ファイル「{1}」の点の座標系 {2} を {3} に変換できません。"};
    case MessageId::kGisLongitudeLatitude:
      return {"{1}: the points are longitude/latitude ({2}); to read them as survey X and Y, {3}",
              "ファイル「{1}」の点は経緯度（{2}）です。測量の X・Y として読み込むには、"
              "「GISﾃﾞｰﾀで保存」で平面直角座標系を選んでから開いてください。"};
    case MessageId::kGisFeatureNoPosition:
      return {"{1}: feature {2} of the layer {3} has no position; nothing was loaded",
              "ファイル「{1}」のレイヤ {3} の地物 {2} には位置がありません。"
              "何も読み込みませんでした。"};
    case MessageId::kGisFeatureCannotConvert:
      return {"{1}: feature {2} of the layer {3} cannot be converted to {4}{5}",
              "ファイル「{1}」のレイヤ {3} の地物 {2} を {4} に変換できません。"
              "何も読み込みませんでした。"};
    case MessageId::kGisFeatureNotANumber:
      return {
          "{1}: feature {2} of the layer {3} has a position that is not a number; nothing "
          "was loaded",
          "ファイル「{1}」のレイヤ {3} の地物 {2} の位置が数値ではありません。"
          "何も読み込みませんでした。"};
    case MessageId::kGisLayerHoldsNoPoint:
      return {"{1}: the layer {2} holds no point; nothing was loaded",
              "ファイル「{1}」のレイヤ {2} には点がありません。何も読み込みませんでした。"};
    case MessageId::kGisFeaturesNotPoints:
      return {"{1}: {2} features of the layer {3} are not points and were not read",
              "{1}: レイヤ {3} の地物 {2} 個は点ではないため、読み込みませんでした。"};
    case MessageId::kGisShapesNotOnPoints:
      return {
          "{1}: {2} features of the layer {3} do not run through points that were read "
          "and were not made parcels or polylines (feature {4} is the first)",
          "{1}: レイヤ {3} の地物 {2} 個は読み込んだ点を通らないため、画地・折れ線にしません"
          "でした（最初は地物 {4}）。"};
    case MessageId::kGisNumberNotWhole:
    case MessageId::kGisNumbersNotWhole:
      return {id == MessageId::kGisNumberNotWhole
                  ? "{1}: {2} point number of the layer {3} is not a whole number; such a point "
                    "takes its row's number (feature {4})"
                  : "{1}: {2} point numbers of the layer {3} are not a whole number; such a "
                    "point takes its row's number (feature {4} is the first)",
              "{1}: レイヤ {3} の整数でない点番号 {2} 個は、その行の番号としました"
              "（最初は地物 {4}）。"};
    case MessageId::kGisSurveySystemCannotConvert:
      return {"the survey system cannot be converted to {1}{2}",
              "測量の座標系を {1} に変換できません。"};
    case MessageId::kGisPointCannotPlace:
      return {"point {1} \"{2}\" (X {3}, Y {4}) cannot be placed in longitude/latitude{5}",
              "点番号 {1}「{2}」（X {3}、Y {4}）は経緯度に変換できません。"};
    case MessageId::kGisPointLeadsElsewhere:
      return {
          "point {1} \"{2}\" (X {3}, Y {4}) cannot be placed in longitude/latitude: it lies "
          "so far from the system's origin that its longitude and latitude would lead "
          "elsewhere",
          "点番号 {1}「{2}」（X {3}、Y {4}）は座標系の原点から遠すぎるため、経緯度に変換すると"
          "別の位置を指します。経緯度に変換できません。"};
    case MessageId::kGisFeatureNotWritten:
      return {"a feature of the layer {1} could not be written{2}",
              "レイヤ {1} の地物を書き出せませんでした。"};
    case MessageId::kGisLayerNotMade:
      return {"the layer {1} could not be made{2}", "レイヤ {1} を作れませんでした。"};
    case MessageId::kGisFieldNotMade:
      return {"the field {1} could not be made{2}", "項目 {1} を作れませんでした。"};
    case MessageId::kGisDxfEntitiesNotMade:
      return {"the DXF entities could not be made{1}", "DXF の図形を作れませんでした。"};
    case MessageId::kGisDxfEntityNotWritten:
      return {"a DXF entity could not be written{1}", "DXF の図形を書き出せませんでした。"};
    case MessageId::kGisFormatPlacesBySystem:
      return {"{1} places the site by its coordinate system: {2}",
              "{1} は座標系で現場の位置を決めるため、座標系が必要です。座標系を選んでください。"};
    case MessageId::kGisNoDriver:
      return {"this GDAL has no {1} driver",
              "この GDAL には {1} のドライバがないため、書き出せません。"};
    case MessageId::kGisCannotMake:
      return {"GDAL could not make the {1}{2}", "GDAL で {1} を作れませんでした。"};
    case MessageId::kGisCannotFinish:
      return {"GDAL could not finish the {1}{2}", "GDAL で {1} を書き終えられませんでした。"};
    case MessageId::kGisWroteNothing:
      return {"GDAL wrote no {1}", "GDAL がファイル「{1}」を書き出しませんでした。"};
    case MessageId::kGisNoDbf:
      return {
          "{1}: has no .dbf beside it, so its points have no numbers, names, marks or "
          "remarks; they were numbered by row and marked",
          "{1}: 同じ名前の .dbf ファイルがないため、点番号・点名・マーク・備考がありません。"
          "点番号は行番号とし、すべての点に印を付けました。"};
    case MessageId::kGisPlacedInRemembered:
      return {
          "{1}: its points are longitude/latitude or in a projection other than the plane "
          "rectangular systems; they were placed in {2}, the system of the last GIS export",
          "ファイル「{1}」の点は経緯度または平面直角座標系以外の座標のため、前回"
          "「GISﾃﾞｰﾀで保存」で選んだ {2} の座標に換算して読み込みました。"};
    case MessageId::kGisExportNotInPointsSystem:
      return {
          "the points read from GIS files are in {2}; saved as {1} they would stand far from "
          "their place: choose {2}",
          "GIS データから読み込んだ点は {2} の座標です。{1} として保存すると、"
          "離れた所に置かれます。座標系には {2} を選んでください。"};
    case MessageId::kGisTitleZoneQuestion:
      return {
          "the site's title \"{1}\" names zone {2}, but zone {3} was chosen; save the points "
          "in zone {3}?",
          "現場のタイトル「{1}」は第{2}系ですが、第{3}系が選ばれています。"
          "第{3}系の座標として保存しますか？"};
    case MessageId::kGisTitleDatumQuestion:
      return {
          "the site's title \"{1}\" names {2}, but a system on {3} was chosen; save the "
          "points on {3}?",
          "現場のタイトル「{1}」は{2}ですが、{3}の座標系が選ばれています。"
          "{3}の座標として保存しますか？"};
    case MessageId::kGisDbfShort:
      return {
          "{1}: its .dbf holds the numbers and names of {2} of its {3} points: it is damaged "
          "or cut short; nothing was loaded",
          "ファイル「{1}」の .dbf には、{3} 点のうち {2} 点の点番号・点名しかありません。"
          ".dbf が壊れているか、途中で切れています。何も読み込みませんでした。"};
    case MessageId::kGisReadStopped:
      return {
          "{1}: the layer {2} cannot be read past its feature {3}{4}; the file is damaged or "
          "cut short, and nothing was loaded",
          "ファイル「{1}」のレイヤ「{2}」は {3} 件目より先を読み込めません。ファイルが"
          "壊れているか、途中で切れています。何も読み込みませんでした。"};
    case MessageId::kGisZNotNumber:
    case MessageId::kGisZsNotNumber:
      return {id == MessageId::kGisZNotNumber
                  ? "{1}: {2} z value of the layer {3} is not a number and read as 0 (feature "
                    "{4})"
                  : "{1}: {2} z values of the layer {3} are not a number and read as 0 (feature "
                    "{4} is the first)",
              "{1}: レイヤ {3} の z の値 {2} 個が数値ではないため、0 として読み込みました"
              "（最初は地物 {4}）。"};
    case MessageId::kGisMarkedNotBinary:
    case MessageId::kGisMarksNotBinary:
      return {id == MessageId::kGisMarkedNotBinary
                  ? "{1}: {2} marked value of the layer {3} is neither 1 nor 0 and read as "
                    "unmarked (feature {4})"
                  : "{1}: {2} marked values of the layer {3} are neither 1 nor 0 and read as "
                    "unmarked (feature {4} is the first)",
              "{1}: レイヤ {3} の marked の値 {2} 個が 1 でも 0 でもないため、"
              "印のない点として読み込みました（最初は地物 {4}）。"};
    case MessageId::kGisTextNotUtf8:
    case MessageId::kGisTextsNotUtf8:
      return {id == MessageId::kGisTextNotUtf8
                  ? "{1}: has no .cpg naming the code page of its .dbf, and {2} text of the "
                    "layer {3} is not UTF-8 (feature {4}): every text of the layer read as code "
                    "page 932 (Shift_JIS)"
                  : "{1}: has no .cpg naming the code page of its .dbf, and {2} texts of the "
                    "layer {3} are not UTF-8 (feature {4} is the first): every text of the layer "
                    "read as code page 932 (Shift_JIS)",
              "{1}: .dbf の文字コードを示す .cpg ファイルがなく、レイヤ {3} の文字列 {2} 個が "
              "UTF-8 ではないため（最初は地物 {4}）、レイヤのすべての文字列を Shift_JIS"
              "（コードページ 932）として読み込みました。"};
    case MessageId::kGisTrianglesNotRead:
      return {
          "{1}: the layer {3} is not read back (triangles: {2}); a parcel's triangles come "
          "back only from a SIMA file",
          "{1}: レイヤ {3} の三角形 {2} 個は読み込みません。区画の三角形は SIMA "
          "ファイルからのみ読み込めます。"};
    case MessageId::kGisFeatureFar:
    case MessageId::kGisFeaturesFar:
      return {id == MessageId::kGisFeatureFar
                  ? "{1}: {2} point of the layer {3} lies more than 100 km outside the area {5} "
                    "is meant for; check the layer's coordinate system (feature {4})"
                  : "{1}: {2} points of the layer {3} lie more than 100 km outside the area {5} "
                    "is meant for; check the layer's coordinate system (feature {4} is the "
                    "first)",
              "{1}: レイヤ {3} の点 {2} 個が {5} の適用範囲から 100 km 以上離れています。"
              "レイヤの座標系を確かめてください（最初は地物 {4}）。"};
    case MessageId::kGisTextCutOnReading:
    case MessageId::kGisTextsCutOnReading:
      return {id == MessageId::kGisTextCutOnReading
                  ? "{1}: {2} text of the layer {3} is longer than a point keeps (a name or "
                    "remarks 255 bytes, a mark 15, in Shift_JIS) and was cut (feature {4})"
                  : "{1}: {2} texts of the layer {3} are longer than a point keeps (a name or "
                    "remarks 255 bytes, a mark 15, in Shift_JIS) and were cut (feature {4} is "
                    "the first)",
              "{1}: レイヤ {3} の文字列 {2} 個が点に入る長さ（Shift_JIS で点名・備考は 255 "
              "バイト、マークは 15 バイト）を超えるため、切り詰めて読み込みました（最初は地物 "
              "{4}）。"};
    case MessageId::kGisNoSystemDegrees:
      return {
          "{1}: the layer {2} names no coordinate system, and every point lies where Japan "
          "is in longitude and latitude (120..155, 20..46); they were read as survey X and "
          "Y in metres. If they are degrees, give the file its system (a Shapefile's .prj)",
          "{1}: レイヤ {2} には座標系の指定がなく、すべての点が日本の経緯度の範囲（120～155、"
          "20～46）にあります。測量の X・Y（メートル）として読み込みました。経緯度の場合は、"
          "ファイルに座標系（Shapefile では .prj）を付けてから開いてください。"};
    case MessageId::kGisNoNumberOrName:
      return {
          "{1}: the layer {2} has no field named number (or no) or name (its fields: {3}); "
          "its points were numbered by row and have no names",
          "{1}: レイヤ {2} には number（または no）や name という名前のフィールドがありません"
          "（フィールド：{3}）。点番号は行番号とし、点名は空にしました。"};
    case MessageId::kGisBlockNotDrawn:
    case MessageId::kGisBlocksNotDrawn:
      return {id == MessageId::kGisBlockNotDrawn
                  ? "{1}: {2} parcel or polyline is not drawn (only a SIMA file's are); a SIMA "
                    "save and the GeoPackage, GeoJSON, KML and Shapefile exports keep it"
                  : "{1}: {2} parcels and polylines are not drawn (only a SIMA file's are); a "
                    "SIMA save and the GeoPackage, GeoJSON, KML and Shapefile exports keep them",
              "{1}: 区画・折れ線 {2} 個は、プロットと図面には描きません（描くのは SIMA ファイル"
              "のものだけです）。SIMA 形式での保存と、GeoPackage・GeoJSON・KML・Shapefile への"
              "書き出しには残ります。"};
    case MessageId::kGisGridMissing:
      return {
          "{1}: the points were converted from {2} to {3} without the correction grid {4}, "
          "which is not installed here; the conversion it gives in {6} (accurate to {5} m) "
          "was left for a plainer one, and points in that area may be off",
          "{1}: {2} から {3} への変換に使う補正グリッド {4} がこのコンピュータにないため、"
          "補正なしの方法で変換しました（補正グリッドによる「{6}」での変換の精度は {5} m）。"
          "その地域の点は、ずれている可能性があります。"};
    case MessageId::kGisLinkCannotFollow:
      return {"{1}: the link cannot be followed: {2}",
              "ファイル「{1}」のリンク先をたどれません。\r\n{2}"};
    case MessageId::kGisEarlierFileStays:
      return {"{1}: the earlier export's file cannot be removed: {2}; nothing was written",
              "以前に書き出したファイル「{1}」を削除できないため、何も書き出しませんでした。"
              "\r\n{2}"};
    case MessageId::kGisSystemsDiffer:
      return {
          "{1}: its points are in {2}, the points read before it in {3}; side by side they "
          "would stand far apart, so nothing was loaded: {4}",
          "ファイル「{1}」の点は {2} の座標で、先に読み込んだ点は {3} の座標です。"
          "並べると離れた所に置かれるため、読み込みませんでした。"};
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
    case ELOOP:
      return "シンボリックリンクが多すぎるか、循環しています。";
    case ENXIO:
    case ENODEV:
      return "デバイスがないか、ファイルとして読み書きできないものです。";
    case EINVAL:
      return "この操作はこのファイルにはできません。";
    case EBUSY:
    case ETXTBSY:
      return "ファイルまたはデバイスが使用中です。";
    case EFBIG:
      return "ファイルが大きすぎます。";
    case EXDEV:
      return "別のドライブにはこの操作ができません。";
    case EEXIST:
      return "同じ名前のファイルが既にあります。";
    case ENOTEMPTY:
      return "フォルダが空ではありません。";
    case ENOMEM:
      return "メモリが不足しています。";
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
        if (n >= 1 && n <= args.size()) {
          const bool registry = language == Language::kJapanese && args[n - 1] == kRegistrySource;
          out += registry ? std::string("レジストリ") : args[n - 1];
        }
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
  if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) return "メモリが不足しています。";
  const auto* error = dynamic_cast<const Error*>(&failure);
  if (error == nullptr || !error->HasId()) return failure.what();
  std::vector<std::string> args = error->Args();
  std::string systemReason;
  if (error->SystemError() != 0 && !args.empty()) {
    // The system's own words are English: a reason without a Japanese text is named by
    // its number.
    const char* reason = JapaneseReason(error->SystemError());
    systemReason = reason ? std::string(reason)
                          : "システムのエラー " + std::to_string(error->SystemError()) + " です。";
    args.back() = systemReason;
  }
  // A failure behind this one says its own part in Japanese too.
  if (error->Cause() != nullptr && !args.empty()) args.back() = WindowText(*error->Cause());
  std::string text = MessageText(error->Id(), args, Language::kJapanese);
  // A Japanese text that does not name the reason (GDAL's own words are English) still
  // tells the system's.
  if (!systemReason.empty() && text.find(systemReason) == std::string::npos) {
    text += "\r\n" + systemReason;
  }
  return text;
}

}  // namespace kestrova
