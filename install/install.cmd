@echo off
rem Installs the Norvik OPOS MSR service object from the folder of this script:
rem registers NorvikMSRSO.dll as a COM server and writes the two OPOS device
rem keys of NorvikMSR.reg.
rem
rem   install.cmd [32 | 64]     bitness of NorvikMSRSO.dll; by default the one of the DLL
rem                             beside this script, which the build stamps in below
rem
rem A COM server and its OPOS keys must land in the registry view of the DLL's
rem bitness, where the control object of the same bitness looks for them. On
rem 64-bit Windows a 32-bit DLL is registered by the 32-bit regsvr32 in
rem SysWOW64, which writes the WOW6432Node view, and reg /reg:32 writes the
rem OPOS keys there too. A 64-bit DLL needs the 64-bit regsvr32; from a 32-bit
rem console that one is reached as Sysnative. On 32-bit Windows there is one
rem view, and System32 holds the only regsvr32.
setlocal
set "HERE=%~dp0"
rem The bitness of the NorvikMSRSO.dll that the build put beside this copy.
set "DLL_BITS=@NORVIK_DLL_BITS@"
if not "%DLL_BITS%"=="32" if not "%DLL_BITS%"=="64" set "DLL_BITS="
set "BITS=%~1"
if "%BITS%"=="" set "BITS=%DLL_BITS%"
if not "%BITS%"=="32" if not "%BITS%"=="64" (
    echo usage: install.cmd [32 ^| 64]
    if not defined DLL_BITS echo This copy does not know the bitness of NorvikMSRSO.dll: give it.
    exit /b 2
)
if defined DLL_BITS if not "%BITS%"=="%DLL_BITS%" (
    echo The NorvikMSRSO.dll beside this script is a %DLL_BITS%-bit DLL, not a %BITS%-bit one.
    echo Run install.cmd without an argument, or the copy in the folder of the %BITS%-bit DLL.
    exit /b 2
)

set "WIN64="
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "WIN64=1"
if /i "%PROCESSOR_ARCHITECTURE%"=="ARM64" set "WIN64=1"
if defined PROCESSOR_ARCHITEW6432 set "WIN64=1"

set "REGSVR32=%SystemRoot%\System32\regsvr32.exe"
set "VIEW=/reg:%BITS%"
if "%BITS%"=="32" if defined WIN64 set "REGSVR32=%SystemRoot%\SysWOW64\regsvr32.exe"
if "%BITS%"=="64" (
    if not defined WIN64 (
        echo A 64-bit NorvikMSRSO.dll needs 64-bit Windows.
        exit /b 1
    )
    if defined PROCESSOR_ARCHITEW6432 set "REGSVR32=%SystemRoot%\Sysnative\regsvr32.exe"
)

"%REGSVR32%" /s "%HERE%NorvikMSRSO.dll"
if errorlevel 1 (
    echo Registering NorvikMSRSO.dll failed.
    exit /b 1
)
reg import "%HERE%NorvikMSR.reg" %VIEW% >nul 2>&1
if errorlevel 1 (
    echo Writing the OPOS device keys failed.
    exit /b 1
)
exit /b 0
