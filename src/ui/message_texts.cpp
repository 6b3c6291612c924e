// Message texts used by more than one part of the programs (see base/messages.h).
#include "base/messages.h"

namespace talven {

const char msg_foreign_code_page[] =
    "この Windows の文字コード（ANSI コードページ）は日本語ではありません。\n"
    "インストールとアンインストールは日本語の Windows と同じく正しく行われますが、"
    "ゲームを動かすには、Windows の地域の設定で「Unicode 対応ではないプログラムの言語」を"
    "日本語にする（またはロケールを切り替えるツールを使う）必要があります。\n\n"
    "This Windows does not use the Japanese code page. Installing and uninstalling work "
    "correctly, but the game needs the Japanese locale settings (language for non-Unicode "
    "programs) or a locale tool to run.";

const char msg_destination_not_cp932[] =
    "[%s]\nこのフォルダ名には、日本語の文字コード（シフトJIS）で表せない文字が含まれています。\n"
    "ゲームがこのフォルダを開けないため、インストールできません。別のフォルダを指定して下さい。";

const char msg_name_not_cp932[] =
    "[%s]\nこの名前には、日本語の文字コード（シフトJIS）で表せない文字が含まれています。\n"
    "ゲームがこの場所を開けないため、処理を中止しました。";

}  // namespace talven
