@echo off
rem The modem's answer goes to standard output: here into answer.txt.
"%~dp0atcmd.exe" /port COM3 /cmd AT+CSQ /resp "^OK" /timeout 3000 > answer.txt
set result=%ERRORLEVEL%
if %result% NEQ 1 (
    echo no answer as expected: exit code %result%
    exit /b 1
)
rem The line that starts with +CSQ:, for example "+CSQ: 21,99".
for /f "delims=" %%L in ('findstr /b /c:"+CSQ:" answer.txt') do set signal=%%L
echo signal: %signal%
