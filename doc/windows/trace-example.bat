@echo off
rem Every trace, with the milliseconds since the start (/t), in atcmd-log.txt.
"%~dp0atcmd-trace.exe" /t "%~dp0atcmd.exe" /port COM5 /cmd ATI /resp OK /timeout 3000 >> atcmd-log.txt 2>&1
echo exit code %ERRORLEVEL% >> atcmd-log.txt
