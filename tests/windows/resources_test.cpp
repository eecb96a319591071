// Reads back the resources that the program file carries: the process
// declaration (manifest), the icon and the version block.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

// The wide forms of the resource types (the RT_ macros follow UNICODE).
const LPCWSTR Manifest = MAKEINTRESOURCEW(24), GroupIcon = MAKEINTRESOURCEW(14), Version = MAKEINTRESOURCEW(16);

struct Resource {
  std::uintptr_t id;  // 0 for a resource named by a string
  WORD language;
};

BOOL CALLBACK AddLanguage(HMODULE, LPCWSTR, LPCWSTR name, WORD language, LONG_PTR list) {
  const std::uintptr_t id = IS_INTRESOURCE(name) ? reinterpret_cast<std::uintptr_t>(name) : 0;
  reinterpret_cast<std::vector<Resource>*>(list)->push_back({id, language});
  return TRUE;
}

BOOL CALLBACK AddName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR list) {
  EnumResourceLanguagesW(module, type, name, AddLanguage, list);
  return TRUE;
}

// Every resource of a type in this program file, each language counted.
std::vector<Resource> ResourcesOfType(LPCWSTR type) {
  std::vector<Resource> found;
  EnumResourceNamesW(nullptr, type, AddName, reinterpret_cast<LONG_PTR>(&found));
  return found;
}

std::string ResourceText(LPCWSTR name, LPCWSTR type) {
  HRSRC info = FindResourceW(nullptr, name, type);
  if (!info) return {};
  HGLOBAL data = LoadResource(nullptr, info);
  const char* bytes = static_cast<const char*>(LockResource(data));
  return bytes ? std::string(bytes, SizeofResource(nullptr, info)) : std::string();
}

TEST(ProgramResources, ExactlyOneManifestWithTheProgramsDeclarations) {
  const std::vector<Resource> manifests = ResourcesOfType(Manifest);
  ASSERT_EQ(manifests.size(), 1u) << "a second manifest replaces or clashes with the first";
  EXPECT_EQ(manifests[0].id, 1u) << "the one Windows reads for a program file";

  const std::string text = ResourceText(MAKEINTRESOURCEW(1), Manifest);
  for (const char* declaration :
       {"<dpiAwareness xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">PerMonitorV2</dpiAwareness>",
        "<longPathAware xmlns=\"http://schemas.microsoft.com/SMI/2016/WindowsSettings\">true</longPathAware>",
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"", "level=\"asInvoker\""})
    EXPECT_NE(text.find(declaration), std::string::npos) << declaration << "\nnot in:\n" << text;
}

TEST(ProgramResources, IconAndVersionBlock) {
  EXPECT_NE(FindResourceW(nullptr, L"MAINICON", GroupIcon), nullptr);
  const std::string version = ResourceText(MAKEINTRESOURCEW(VS_VERSION_INFO), Version);
  const std::wstring product = L"TarnvelKESTRO";
  const std::string productBytes(reinterpret_cast<const char*>(product.data()), product.size() * sizeof(wchar_t));
  EXPECT_NE(version.find(productBytes), std::string::npos);
}

}  // namespace
