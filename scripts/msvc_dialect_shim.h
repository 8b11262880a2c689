// Read first by scripts/check_msvc_dialect.sh, which parses the Windows build's files in clang's
// MSVC mode against mingw-w64's headers. Those headers, libstdc++'s above all, are written for
// GCC: they are shown the GCC they expect, while the files of the tool are still parsed as cl
// parses them. Whether a GNU extension reaches cl is checked by the script's second pass, which
// reads no system header.
#define __GNUC__ 12
#define __GNUC_MINOR__ 0
#define __GNUC_PATCHLEVEL__ 0
#define __STRICT_ANSI__ 1
// GCC names __declspec as a macro; mingw-w64's headers test for it.
#define __declspec __declspec
#define __GCC_ATOMIC_TEST_AND_SET_TRUEVAL 1
#define __GCC_ATOMIC_BOOL_LOCK_FREE 2
#define __GCC_ATOMIC_CHAR_LOCK_FREE 2
#define __GCC_ATOMIC_CHAR8_T_LOCK_FREE 2
#define __GCC_ATOMIC_CHAR16_T_LOCK_FREE 2
#define __GCC_ATOMIC_CHAR32_T_LOCK_FREE 2
#define __GCC_ATOMIC_WCHAR_T_LOCK_FREE 2
#define __GCC_ATOMIC_SHORT_LOCK_FREE 2
#define __GCC_ATOMIC_INT_LOCK_FREE 2
#define __GCC_ATOMIC_LONG_LOCK_FREE 2
#define __GCC_ATOMIC_LLONG_LOCK_FREE 2
#define __GCC_ATOMIC_POINTER_LOCK_FREE 2
