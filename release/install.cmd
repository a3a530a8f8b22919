@echo off
rem Registers WebCorvaneBHO with the browsers: the 32-bit DLL for 32-bit
rem Internet Explorer and Maxthon, and on 64-bit Windows the 64-bit DLL for
rem 64-bit Internet Explorer; then the native messaging host of this Windows's
rem bitness for Chrome, Edge and Firefox, for the user who runs it. Run it as an
rem administrator.
setlocal
set "here=%~dp0"
set "native=%windir%\System32"
rem A 32-bit command prompt on 64-bit Windows sees SysWOW64 as System32; there
rem Sysnative is the real one.
if defined PROCESSOR_ARCHITEW6432 set "native=%windir%\Sysnative"
if not exist "%windir%\SysWOW64\regsvr32.exe" goto only32

"%windir%\SysWOW64\regsvr32.exe" /s "%here%x86\WebCorvaneBHO.dll"
if errorlevel 1 goto failed
"%native%\regsvr32.exe" /s "%here%x64\WebCorvaneBHO.dll"
if errorlevel 1 goto failed
set "host=%here%x64\WebCorvaneHost.exe"
goto browsers

:only32
"%native%\regsvr32.exe" /s "%here%x86\WebCorvaneBHO.dll"
if errorlevel 1 goto failed
set "host=%here%x86\WebCorvaneHost.exe"

:browsers
rem Chrome, Edge and Firefox find the host through this user's keys, which name the
rem manifest beside it.
"%host%" --register-user
if errorlevel 1 goto failed
echo WebCorvaneBHO is installed.
exit /b 0

:failed
echo WebCorvaneBHO could not be registered.
exit /b 1
