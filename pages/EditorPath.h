#pragma once
// The editor form of a path, in which the site log and the file list hand a file to the editor,
// and the confinement of the editor to the static and template folders.

#include "platform/Files.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pelotest {

// Every '/' replaced by '?', then UrlEncode (which writes "?" as %3F): a path of the site log or
// the file list in a form that survives a link's query unchanged.
std::string editorFormOfPath(std::string_view path);

// The editor's reading of the "site" value (already decoded once by the server): UrlDecodePath,
// then every '?' back to '/'. So a '+' in a file name becomes a blank, as it always has.
std::string pathFromEditorForm(std::string_view site);

// An absolute path resolved as the kernel resolves it when a file is opened: one component after
// the other, every link replaced by its target, ".." taken from the folder reached so far (so
// after a link it leads to the link target's parent). The components from the first missing one
// on are kept as written; a ".." or "." among them, a component below a file, a link loop or a
// relative path give nullopt, as the kernel would fail there too.
struct KernelPath {
    std::filesystem::path path;
    std::size_t missing = 0; // how many of the last components do not exist
};
std::optional<KernelPath> resolveLikeKernel(std::string_view path);

// The file that path names, resolved as the kernel will (resolveLikeKernel; a link in the last
// place is followed too), when it lies strictly inside the static root or the template folder
// (each resolved the same way and existing; an empty root confines nothing into it); nullopt
// otherwise, also for an empty or relative path or one that ends in a folder ("/", ".", "..").
// The file, and the folders from the first missing one on, need not exist.
std::optional<std::filesystem::path> confinedEditorFile(std::string_view path,
                                                        std::string_view staticRoot,
                                                        std::string_view templateFolder);

// The folder of a confined editor file, opened. The check of confinedEditorFile names folders
// by their path; a link swapped into that path afterwards would make the path another folder.
// The open folder stays the folder that was checked, so files are opened and replaced relative to
// it and without following a link in the last place.
class EditorFolder {
  public:
    // nullopt when the path is not confined (confinedEditorFile) or its folder cannot be opened
    // or is no longer the folder that was checked. betweenCheckAndOpen, when set, runs at the
    // moment between the check and the opening: tests put links into the path there.
    static std::optional<EditorFolder> open(std::string_view path, std::string_view staticRoot,
                                            std::string_view templateFolder,
                                            const std::function<void()>& betweenCheckAndOpen = {});
    const OpenFile& folder() const { return folder_; }
    // The file's name inside the folder.
    std::string name() const { return file_.filename().string(); }
    // The resolved path of the file.
    const std::filesystem::path& file() const { return file_; }

    enum class Reading { Read, NotAFile, TooLarge };
    // The file's bytes into bytes, read through the folder's descriptor without following a link
    // in the last place and without waiting (a FIFO put in the file's place cannot hold the
    // request). NotAFile for anything but a regular file or one that cannot be read; TooLarge
    // (nothing read) for one of more than largest bytes.
    Reading readFile(std::string& bytes, std::uint64_t largest) const;

  private:
    EditorFolder(OpenFile folder, std::filesystem::path file)
        : folder_(std::move(folder)), file_(std::move(file)) {}
    OpenFile folder_;
    std::filesystem::path file_;
};

} // namespace pelotest
