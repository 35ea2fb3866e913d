@echo off
rem A batch file waits for atcmd.exe to end: %ERRORLEVEL% is its result.
"%~dp0atcmd.exe" /port COM3 /cmd AT+CSQ /resp "^\+CSQ" /timeout 3000
set result=%ERRORLEVEL%
if %result% EQU 1 goto answered
if %result% EQU -1 goto failed
if %result% EQU -2 goto timedout
echo atcmd.exe did not run: exit code %result%
exit /b %result%

:answered
echo the modem answered as expected
exit /b 0

:failed
echo failure: no port, port busy, an error answer, a hang-up
exit /b 1

:timedout
echo no answer within 3 seconds
exit /b 2
