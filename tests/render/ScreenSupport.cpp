// The message-box recorder and the scratch folder of the screen tests.
#include "ScreenSupport.h"

#include <unistd.h>

#include <atomic>
#include <fstream>

TBoxRecorder::TBoxRecorder() {
  SetMessageBoxHook([this](const std::string& text, const std::string& caption) {
    Boxes.emplace_back(text, caption);
    if (OnBox) OnBox();
    return IDOK;
  });
}

TBoxRecorder::~TBoxRecorder() {
  SetMessageBoxHook(MessageBoxHook());
}

TScratchFolder::TScratchFolder() {
  static std::atomic<int> counter{0};
  Path = std::filesystem::temp_directory_path() /
         ("kestrune-render-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(Path);
}

TScratchFolder::~TScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(Path, ignored);
}

std::string TScratchFolder::Write(const std::string& name,
                                  const std::vector<uint8_t>& bytes) const {
  const std::string path = File(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return path;
}
