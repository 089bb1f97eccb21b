// The message box on standard error, for any caption and text: well-formed UTF-8 in which
// nothing a terminal could take as a command survives (C0 but the line feeds, DEL, C1), nor a
// direction control or line separator, and the exact shape "caption, LF, text, LF, LF" with the
// text's CR LF as LF.
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "fuzz_support.h"
#include "platform/window.h"

namespace ralto::fuzz {
namespace {

// What the box wrote to standard error, taken from a memory file put in its place.
std::string CaptureBox(const std::u16string& caption, const std::u16string& text) {
  static const int capture = memfd_create("box", 0);
  FUZZ_CHECK(capture >= 0);
  FUZZ_CHECK(ftruncate(capture, 0) == 0 && lseek(capture, 0, SEEK_SET) == 0);
  int standardError = dup(STDERR_FILENO);
  dup2(capture, STDERR_FILENO);
  int result = sys::MessageBoxW(nullptr, text.c_str(), caption.c_str(), 0);
  dup2(standardError, STDERR_FILENO);
  close(standardError);
  FUZZ_CHECK(result == 1);
  std::string written(static_cast<std::size_t>(lseek(capture, 0, SEEK_CUR)), '\0');
  FUZZ_CHECK(pread(capture, written.data(), written.size(), 0) ==
             static_cast<ssize_t>(written.size()));
  return written;
}

// The number of line feeds the text must give: its own, a CR LF counting once.
std::size_t LineFeedsOf(const std::u16string& text) {
  std::size_t count = 0;
  for (char16_t unit : text) count += unit == u'\n';
  return count;
}

}  // namespace
}  // namespace ralto::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace ralto::fuzz;
  FuzzedDataProvider in(data, size);
  std::u16string caption = ConsumeText(in, in.ConsumeIntegralInRange<std::size_t>(0, 64));
  std::u16string text = ConsumeText(in, 4096);
  std::string box = CaptureBox(caption, text);

  FUZZ_CHECK(IsWellFormedUtf8(box));
  for (std::size_t i = 0; i < box.size(); ++i) {
    auto byte = static_cast<std::uint8_t>(box[i]);
    FUZZ_CHECK(byte == '\n' || (byte >= 0x20 && byte != 0x7F));
    // C1 controls in UTF-8: C2 80 .. C2 9F.
    if (byte == 0xC2) FUZZ_CHECK(static_cast<std::uint8_t>(box[i + 1]) >= 0xA0);
    // U+061C is D8 9C; U+200E-200F E2 80 8E-8F, U+2028-202E E2 80 A8-AE, U+2066-2069 E2 81 A6-A9.
    if (byte == 0xD8) FUZZ_CHECK(static_cast<std::uint8_t>(box[i + 1]) != 0x9C);
    if (byte == 0xE2) {
      auto second = static_cast<std::uint8_t>(box[i + 1]);
      auto third = static_cast<std::uint8_t>(box[i + 2]);
      FUZZ_CHECK(!(second == 0x80 &&
                   ((third >= 0x8E && third <= 0x8F) || (third >= 0xA8 && third <= 0xAE))));
      FUZZ_CHECK(!(second == 0x81 && third >= 0xA6 && third <= 0xA9));
    }
  }
  // The caption is one line; the text keeps exactly its line feeds; then an empty line.
  std::size_t firstBreak = box.find('\n');
  FUZZ_CHECK(firstBreak != std::string::npos);
  std::size_t feeds = 0;
  for (char byte : box) feeds += byte == '\n';
  FUZZ_CHECK(feeds == 1 + LineFeedsOf(text) + 2);
  FUZZ_CHECK(box.size() >= 3 && box.compare(box.size() - 2, 2, "\n\n") == 0);
  return 0;
}
