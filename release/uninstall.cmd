@echo off
rem Removes everything WebCorvaneBHO's registration wrote, for both DLLs, and
rem this user's registration of the native messaging host for Chrome, Edge and Firefox.
setlocal
set "here=%~dp0"
set "native=%windir%\System32"
if defined PROCESSOR_ARCHITEW6432 set "native=%windir%\Sysnative"
if not exist "%windir%\SysWOW64\regsvr32.exe" goto only32

"%here%x64\WebCorvaneHost.exe" --unregister-user
"%native%\regsvr32.exe" /s /u "%here%x64\WebCorvaneBHO.dll"
"%windir%\SysWOW64\regsvr32.exe" /s /u "%here%x86\WebCorvaneBHO.dll"
goto done

:only32
"%here%x86\WebCorvaneHost.exe" --unregister-user
"%native%\regsvr32.exe" /s /u "%here%x86\WebCorvaneBHO.dll"

:done
echo WebCorvaneBHO is removed.
exit /b 0
