# Source this file (bash): exports how to run Windows programs under Wine.
#
#   BVX_WINE        the wine command: "$BVX_WINE prog.exe", "$BVX_WINE wineboot -i",
#                   "$BVX_WINE reg add ..."
#   BVX_WINESERVER  the matching wineserver ("$BVX_WINESERVER -w", "-k")
#   BVX_WINE_MODE   wine32 (i386 loader works: 32-bit and 64-bit exes run)
#                   or wine64 (only x86_64 exes run: this kernel cannot
#                   execute 32-bit x86 code, see below)
#   BVX_WINE_ARCH   the MinGW target whose exes run here: i686 or x86_64
#   BVX_WINE_CAN_RUN_32BIT  1 or 0
#
# WINEPREFIX, DISPLAY and WINEDEBUG are left to the caller; WINEDLLOVERRIDES
# defaults to skipping the Mono/Gecko installers.
# scripts/install-deps.sh installs Wine first.
#
# Why only these two modes (measured on such a machine, Wine 8.0):
#  - Wine 8's "experimental wow64 mode" (wine64 starting an i386 exe) needs
#    the CPU to switch to a 32-bit code segment; on these machines any far
#    transfer to a 32-bit code segment (GDT 0x23 or an LDT entry) raises
#    SIGSEGV, so the process dies right after loading syswow64\ntdll.dll.
#  - qemu-user-static 7.2 (binfmt_misc) runs the i386 wine loader, but it
#    spends 50-90 s reserving address space and then fails with
#    "failed to map the shared user data: c0000018".

if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    BVX_WINE_MODE=wine32
    BVX_WINE=/usr/lib/wine/wine
    BVX_WINE_ARCH=i686
    BVX_WINE_CAN_RUN_32BIT=1
else
    BVX_WINE_MODE=wine64
    BVX_WINE=/usr/lib/wine/wine64
    BVX_WINE_ARCH=x86_64
    BVX_WINE_CAN_RUN_32BIT=0
    # Child processes and the server must be the 64-bit ones too.
    export WINELOADER=/usr/lib/wine/wine64
fi
BVX_WINESERVER=/usr/lib/wine/wineserver64
[ -x "$BVX_WINESERVER" ] || BVX_WINESERVER=/usr/lib/wine/wineserver32
export WINESERVER="$BVX_WINESERVER"
export BVX_WINE BVX_WINESERVER BVX_WINE_MODE BVX_WINE_ARCH BVX_WINE_CAN_RUN_32BIT
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
