@echo off
rem Uninstalls the Norvik OPOS MSR service object: unregisters NorvikMSRSO.dll
rem and removes the two OPOS device keys. Aliases that name these devices are
rem left to their owner (the SwipeBench logical device name editor).
rem
rem   uninstall.cmd [32 | 64]   bitness of NorvikMSRSO.dll; by default the one of the DLL
rem                             beside this script, which the build stamps in below
rem
rem The registry view follows the DLL's bitness exactly as in install.cmd:
rem SysWOW64's regsvr32 and /reg:32 for a 32-bit DLL on 64-bit Windows.
rem Keys already gone are not an error, so the script can run twice.
setlocal
set "HERE=%~dp0"
rem The bitness of the NorvikMSRSO.dll that the build put beside this copy.
set "DLL_BITS=@NORVIK_DLL_BITS@"
if not "%DLL_BITS%"=="32" if not "%DLL_BITS%"=="64" set "DLL_BITS="
set "BITS=%~1"
if "%BITS%"=="" set "BITS=%DLL_BITS%"
if not "%BITS%"=="32" if not "%BITS%"=="64" (
    echo usage: uninstall.cmd [32 ^| 64]
    if not defined DLL_BITS echo This copy does not know the bitness of NorvikMSRSO.dll: give it.
    exit /b 2
)
if defined DLL_BITS if not "%BITS%"=="%DLL_BITS%" (
    echo The NorvikMSRSO.dll beside this script is a %DLL_BITS%-bit DLL, not a %BITS%-bit one.
    echo Run uninstall.cmd without an argument, or the copy in the folder of the %BITS%-bit DLL.
    exit /b 2
)

set "WIN64="
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "WIN64=1"
if /i "%PROCESSOR_ARCHITECTURE%"=="ARM64" set "WIN64=1"
if defined PROCESSOR_ARCHITEW6432 set "WIN64=1"

set "REGSVR32=%SystemRoot%\System32\regsvr32.exe"
set "VIEW=/reg:%BITS%"
if "%BITS%"=="32" if defined WIN64 set "REGSVR32=%SystemRoot%\SysWOW64\regsvr32.exe"
if "%BITS%"=="64" if defined PROCESSOR_ARCHITEW6432 set "REGSVR32=%SystemRoot%\Sysnative\regsvr32.exe"

set "RESULT=0"
"%REGSVR32%" /u /s "%HERE%NorvikMSRSO.dll"
if errorlevel 1 (
    echo Unregistering NorvikMSRSO.dll failed.
    set "RESULT=1"
)
set "MSR=HKLM\SOFTWARE\OLEforRetail\ServiceOPOS\MSR"
for %%D in (Norvik_MSR-1 Norvik_MSR-2) do call :RemoveDeviceKey %%D
exit /b %RESULT%

:RemoveDeviceKey
reg query "%MSR%\%~1" %VIEW% >nul 2>&1
if errorlevel 1 exit /b 0
reg delete "%MSR%\%~1" /f %VIEW% >nul 2>&1
if errorlevel 1 (
    echo Removing the OPOS device key %~1 failed.
    set "RESULT=1"
)
exit /b 0
