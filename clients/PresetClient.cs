// A front-end's client for preset-nvidia.exe and preset-amd.exe, in one C# file: starts a
// program (no console window, arguments quoted by the Windows rules, standard output read
// as bytes, a time limit), reads its one result line and exit code, and turns them into
// an outcome and the action the integration guide prescribes for it; reads a program's
// version from its version resource. The base class library only (System.Diagnostics.Process,
// FileVersionInfo): no package. Builds with C# 6 and later, for .NET Framework 4 and
// later, .NET 6 and later, and Mono.
//
//     PresetResult r = PresetClient.RunAndClassify(PresetProgram.Nvidia,
//         @"C:\Program Files\App\preset-nvidia.exe", new[] { "restore", backupPath });
//     if (!r.KeepBackupPath) { /* forget backupPath: nothing is left to undo */ }
using System;
using System.Collections.Generic;
using System.ComponentModel;
using System.Diagnostics;
using System.IO;
using System.Text;
using System.Threading;

namespace GpuPresets
{
    public enum PresetProgram { Nvidia, Amd }

    public enum PresetCommand { Status, Apply, Restore, Other }

    public enum PresetOutcome
    {
        Supported,             // status: the driver can be used; offer the presets
        Applied,               // apply done
        ApplyPartial,          // apply exit 21: partly applied, or (changed 0) nothing, when the
                               // backup could not be saved, was busy or an elevated run refused it
        ApplyNotSaved,         // NVIDIA apply exit 20: nothing changed (the same reasons)
        Restored,              // restore done; the program deleted the backup
        NothingToRestore,      // no backup at the path
        RestoreIncomplete,     // restore exit 22 (with 0 and 0 also: unreadable, busy or refused
                               // path): the backup stays for another restore
        Unsupported,           // exit 10 of status or apply: nothing changed
        UnsupportedBackupKept, // exit 10 of restore: restore again once the driver is back
        CallerBug,             // exit 2 or 3: the front-end passed a wrong command line
        NotStarted,            // the program could not be started: wrong path or launcher
        TimedOut,              // ended by the client past its time limit
        RestoreTimedOut,       // the same during a restore
        Failed,                // crashed, killed, or an answer the programs never give
        RestoreFailed,         // the same during a restore
    }

    public enum PresetAction
    {
        Done,
        TellUser,  // the backup is safe; try again later
        RetryRestoreLater,
        TellUnsupported,
        ReportBug,
    }

    /// <summary>How a run ended: with one result line (whatever it says), not at all, ended by
    /// the client past its time limit, or by itself without a line (a crash, a kill).</summary>
    public enum RunEnded { Answered, NotStarted, TimedOut, NoLine }

    public sealed class ResultLine
    {
        public string Kind;
        public string Vendor;
        public ulong Supported;
        public ulong Changed;
        public string Message;
    }

    /// <summary>What a run did: Exited with ExitCode and the bytes of standard output, or
    /// NotStarted, or TimedOut.</summary>
    public sealed class PresetRun
    {
        public enum Status { Exited, NotStarted, TimedOut }

        public Status How = Status.NotStarted;
        public int ExitCode;
        public byte[] Output = new byte[0];
    }

    public sealed class PresetResult
    {
        public PresetOutcome Outcome = PresetOutcome.Failed;
        public PresetAction Action = PresetAction.TellUser;
        /// <summary>False only when nothing is left to undo: forget the backup path.</summary>
        public bool KeepBackupPath = true;
        public RunEnded Ended = RunEnded.NoLine;
        /// <summary>The program's exit code; null when it did not end by itself.</summary>
        public int? ExitCode;
        public ResultLine Line;
    }

    public static class PresetClient
    {
        /// <summary>Longer than a run can take: a run waits up to 10 seconds for another run on
        /// the same backup path, and driver calls take a few seconds at most.</summary>
        public const int DefaultTimeoutMs = 60000;

        /// <summary>More than one result line ever needs; what goes beyond is read and dropped,
        /// so that the program never blocks on a full pipe.</summary>
        const int MaxOutput = 64 * 1024;

        public static string VendorWord(PresetProgram program)
        {
            return program == PresetProgram.Nvidia ? "NVIDIA" : "AMD";
        }

        /// <summary>The name the guide gives a value: ApplyPartial is "apply-partial".</summary>
        public static string Name(Enum value)
        {
            var name = new StringBuilder();
            foreach (char c in value.ToString())
            {
                if (char.IsUpper(c) && name.Length > 0)
                {
                    name.Append('-');
                }
                name.Append(char.ToLowerInvariant(c));
            }
            return name.ToString();
        }

        /// <summary>The command a first argument names; the programs ignore the case of ASCII
        /// letters.</summary>
        public static PresetCommand CommandOf(string word)
        {
            var lowered = new StringBuilder();
            foreach (char c in word ?? "")
            {
                lowered.Append(c >= 'A' && c <= 'Z' ? (char)(c - 'A' + 'a') : c);
            }
            switch (lowered.ToString())
            {
                case "status": return PresetCommand.Status;
                case "apply": return PresetCommand.Apply;
                case "restore": return PresetCommand.Restore;
                default: return PresetCommand.Other;
            }
        }

        /// <summary>The fields of the bytes a run printed; null when they are not exactly one
        /// result line ending in CR LF. The first four fields are split at ';'; the message is
        /// everything after the first ";message=", since a message may itself hold ';' (and
        /// '=').</summary>
        public static ResultLine ParseResultLine(byte[] data)
        {
            int n = data.Length;
            if (n < 2 || data[n - 2] != '\r' || data[n - 1] != '\n')
            {
                return null;
            }
            for (int i = 0; i < n - 2; ++i)
            {
                if (data[i] == '\r' || data[i] == '\n' || data[i] >= 0x80)
                {
                    return null;
                }
            }
            string text = Encoding.ASCII.GetString(data, 0, n - 2);
            int mark = text.IndexOf(";message=", StringComparison.Ordinal);
            if (mark < 0)
            {
                return null;
            }
            string[] head = text.Substring(0, mark).Split(';');
            string[] names = { "result", "vendor", "supported", "changed" };
            if (head.Length != names.Length)
            {
                return null;
            }
            var values = new string[names.Length];
            for (int i = 0; i < names.Length; ++i)
            {
                if (!head[i].StartsWith(names[i] + "=", StringComparison.Ordinal))
                {
                    return null;
                }
                values[i] = head[i].Substring(names[i].Length + 1);
            }
            var line = new ResultLine { Kind = values[0], Vendor = values[1],
                                        Message = text.Substring(mark + ";message=".Length) };
            if (!ParseCount(values[2], out line.Supported) ||
                !ParseCount(values[3], out line.Changed))
            {
                return null;
            }
            return line;
        }

        static bool ParseCount(string text, out ulong value)
        {
            value = 0;
            if (text.Length == 0 || text.Length > 19)
            {
                return false;
            }
            foreach (char c in text)
            {
                if (c < '0' || c > '9')
                {
                    return false;
                }
                value = value * 10 + (ulong)(c - '0');
            }
            return true;
        }

        /// <summary>The outcome of an answer the programs give, or null for one they never
        /// give.</summary>
        static PresetOutcome? OutcomeOf(PresetProgram program, PresetCommand command, int code,
                                        string kind)
        {
            bool apply = command == PresetCommand.Apply;
            bool restore = command == PresetCommand.Restore;
            if (code == 0 && kind == "ok" && command != PresetCommand.Other)
            {
                return command == PresetCommand.Status ? PresetOutcome.Supported
                       : apply ? PresetOutcome.Applied : PresetOutcome.Restored;
            }
            if (code == 0 && kind == "nothing" && restore)
            {
                return PresetOutcome.NothingToRestore;
            }
            if (code == 10 && kind == "unsupported" && command != PresetCommand.Other)
            {
                return restore ? PresetOutcome.UnsupportedBackupKept : PresetOutcome.Unsupported;
            }
            if (kind != "error")
            {
                return null;
            }
            if (code == 2 || (code == 3 && apply))
            {
                return PresetOutcome.CallerBug;
            }
            if (code == 21 && apply)
            {
                return PresetOutcome.ApplyPartial;
            }
            if (code == 20 && apply && program == PresetProgram.Nvidia)
            {
                return PresetOutcome.ApplyNotSaved;
            }
            if (code == 22 && restore)
            {
                return PresetOutcome.RestoreIncomplete;
            }
            return null;
        }

        /// <summary>What the front-end does after an outcome. Only a finished restore (or none
        /// needed) lets go of the backup path: every other answer leaves a backup that a later
        /// restore still needs, or one from an earlier apply.</summary>
        public static PresetResult Prescribe(PresetOutcome outcome)
        {
            var result = new PresetResult { Outcome = outcome };
            switch (outcome)
            {
                case PresetOutcome.Supported:
                case PresetOutcome.Applied:
                    result.Action = PresetAction.Done;
                    break;
                case PresetOutcome.Restored:
                case PresetOutcome.NothingToRestore:
                    result.Action = PresetAction.Done;
                    result.KeepBackupPath = false;
                    break;
                case PresetOutcome.RestoreIncomplete:
                case PresetOutcome.RestoreTimedOut:
                case PresetOutcome.RestoreFailed:
                    result.Action = PresetAction.RetryRestoreLater;
                    break;
                case PresetOutcome.Unsupported:
                case PresetOutcome.UnsupportedBackupKept:
                    result.Action = PresetAction.TellUnsupported;
                    break;
                case PresetOutcome.CallerBug:
                case PresetOutcome.NotStarted:  // the front-end's path or installation is wrong
                    result.Action = PresetAction.ReportBug;
                    break;
                default:
                    result.Action = PresetAction.TellUser;
                    break;
            }
            return result;
        }

        /// <summary>The outcome of one run and what to do about it. A run that ended by itself
        /// without a line, or with one the programs never print, crashed: the backup on disk is
        /// always complete, so keeping its path and restoring later is safe.</summary>
        public static PresetResult Classify(PresetProgram program, PresetCommand command,
                                            PresetRun run)
        {
            bool restore = command == PresetCommand.Restore;
            PresetOutcome? outcome = null;
            ResultLine line = null;
            RunEnded ended = RunEnded.NoLine;
            if (run.How == PresetRun.Status.NotStarted)
            {
                ended = RunEnded.NotStarted;
                outcome = PresetOutcome.NotStarted;
            }
            else if (run.How == PresetRun.Status.TimedOut)
            {
                ended = RunEnded.TimedOut;
                outcome = restore ? PresetOutcome.RestoreTimedOut : PresetOutcome.TimedOut;
            }
            else
            {
                line = ParseResultLine(run.Output);
                if (line != null)
                {
                    ended = RunEnded.Answered;
                    if (line.Vendor == VendorWord(program))
                    {
                        outcome = OutcomeOf(program, command, run.ExitCode, line.Kind);
                    }
                }
            }
            PresetResult result = Prescribe(
                outcome ?? (restore ? PresetOutcome.RestoreFailed : PresetOutcome.Failed));
            result.Ended = ended;
            result.Line = line;
            if (run.How == PresetRun.Status.Exited)
            {
                result.ExitCode = run.ExitCode;
            }
            return result;
        }

        /// <summary>The command line of `args` by the Windows rules, which the programs' C
        /// runtime (and CommandLineToArgvW) reverse: an argument is quoted when empty or holding
        /// blanks or quotes, a quote escaped, and backslashes doubled where they come before a
        /// quote.</summary>
        public static string WindowsCommandLine(IEnumerable<string> args)
        {
            var line = new StringBuilder();
            foreach (string arg in args)
            {
                if (line.Length > 0)
                {
                    line.Append(' ');
                }
                if (arg.Length > 0 && arg.IndexOfAny(new[] { ' ', '\t', '\n', '\v', '"' }) < 0)
                {
                    line.Append(arg);
                    continue;
                }
                line.Append('"');
                int slashes = 0;
                foreach (char c in arg)
                {
                    if (c == '\\')
                    {
                        ++slashes;
                        continue;
                    }
                    line.Append('\\', c == '"' ? slashes * 2 + 1 : slashes);
                    line.Append(c);
                    slashes = 0;
                }
                line.Append('\\', slashes * 2);
                line.Append('"');
            }
            return line.ToString();
        }

        /// <summary>Mono outside Windows splits ProcessStartInfo.Arguments the way a POSIX shell
        /// does, not by the Windows rules (.NET does, everywhere): there each argument goes in
        /// single quotes.</summary>
        static string ArgumentsFor(IEnumerable<string> args)
        {
            bool monoOnUnix = Type.GetType("Mono.Runtime") != null &&
                              Path.DirectorySeparatorChar == '/';
            if (!monoOnUnix)
            {
                return WindowsCommandLine(args);
            }
            var line = new StringBuilder();
            foreach (string arg in args)
            {
                line.Append(line.Length > 0 ? " '" : "'").Append(arg.Replace("'", "'\\''"))
                    .Append('\'');
            }
            return line.ToString();
        }

        /// <summary>Reads a stream to its end on a thread of its own, keeping at most `limit`
        /// bytes, so the program never blocks on a full pipe.</summary>
        sealed class Drain
        {
            readonly MemoryStream kept = new MemoryStream();
            readonly ManualResetEvent ended = new ManualResetEvent(false);

            public Drain(Stream stream, int limit)
            {
                var thread = new Thread(() => {
                    var buffer = new byte[4096];
                    try
                    {
                        int got;
                        while ((got = stream.Read(buffer, 0, buffer.Length)) > 0)
                        {
                            lock (kept)
                            {
                                int room = limit - (int)kept.Length;
                                kept.Write(buffer, 0, Math.Max(0, Math.Min(got, room)));
                            }
                        }
                    }
                    catch (IOException)
                    {
                    }
                    catch (ObjectDisposedException)
                    {
                    }
                    ended.Set();
                });
                thread.IsBackground = true;
                thread.Start();
            }

            public bool Ended { get { return ended.WaitOne(0); } }

            public byte[] Bytes()
            {
                lock (kept)
                {
                    return kept.ToArray();
                }
            }
        }

        /// <summary>Runs `exe` with `args`: no console window, standard input empty, standard
        /// error read and dropped, standard output read while the program runs. A run past
        /// `timeoutMs` is ended: safe, since no setting changes before its original stands in
        /// the backup file. `launcher` (for example "/usr/lib/wine/wine64") starts the program
        /// where Windows does not; then a program file this process cannot see is not started,
        /// since a launcher answers a missing program with an exit code of its own.</summary>
        public static PresetRun RunPreset(string exe, IList<string> args,
                                          int timeoutMs = DefaultTimeoutMs, string launcher = null)
        {
            var run = new PresetRun();
            var all = new List<string>();
            if (launcher != null)
            {
                if (!File.Exists(exe))
                {
                    return run;
                }
                all.Add(exe);
            }
            all.AddRange(args);
            var start = new ProcessStartInfo(launcher ?? exe, ArgumentsFor(all))
            {
                UseShellExecute = false,
                CreateNoWindow = true,
                RedirectStandardInput = true,
                RedirectStandardOutput = true,
                RedirectStandardError = true,
            };
            Process process;
            try
            {
                process = Process.Start(start);
            }
            catch (Exception e) when (e is Win32Exception || e is IOException ||
                                      e is InvalidOperationException ||
                                      e is UnauthorizedAccessException)
            {
                return run;
            }
            if (process == null)
            {
                return run;
            }
            using (process)
            {
                process.StandardInput.Close();
                var output = new Drain(process.StandardOutput.BaseStream, MaxOutput);
                new Drain(process.StandardError.BaseStream, 0);
                var clock = Stopwatch.StartNew();
                if (!process.WaitForExit(timeoutMs))
                {
                    try
                    {
                        process.Kill();
                    }
                    catch (InvalidOperationException)
                    {
                        // It ended by itself meanwhile.
                    }
                    process.WaitForExit(5000);
                    run.How = PresetRun.Status.TimedOut;
                    return run;
                }
                // Its output is in the pipe by now. Under Wine the pipe can stay open for
                // seconds after the program ended (the write end was handed on to Wine's own
                // processes), so a complete line is not waited past.
                while (!output.Ended && !EndsInLineBreak(output.Bytes()) &&
                       clock.ElapsedMilliseconds < timeoutMs)
                {
                    Thread.Sleep(10);
                }
                run.How = PresetRun.Status.Exited;
                run.ExitCode = process.ExitCode;
                run.Output = output.Bytes();
                return run;
            }
        }

        static bool EndsInLineBreak(byte[] bytes)
        {
            return bytes.Length >= 2 && bytes[bytes.Length - 2] == '\r' &&
                   bytes[bytes.Length - 1] == '\n';
        }

        /// <summary>RunPreset, then Classify; the command is the first argument.</summary>
        public static PresetResult RunAndClassify(PresetProgram program, string exe,
                                                  IList<string> args,
                                                  int timeoutMs = DefaultTimeoutMs,
                                                  string launcher = null)
        {
            PresetCommand command = args.Count == 0 ? PresetCommand.Other : CommandOf(args[0]);
            return Classify(program, command, RunPreset(exe, args, timeoutMs, launcher));
        }

        /// <summary>The program's version, "major.minor.patch" from the numbers of its version
        /// resource (what Explorer shows under Details); null when the file has none or cannot
        /// be read.</summary>
        public static string ProgramVersion(string exe)
        {
            FileVersionInfo info;
            try
            {
                info = FileVersionInfo.GetVersionInfo(exe);
            }
            catch (FileNotFoundException)
            {
                return null;
            }
            if (info.FileMajorPart == 0 && info.FileMinorPart == 0 && info.FileBuildPart == 0 &&
                string.IsNullOrEmpty(info.FileVersion))
            {
                return null;
            }
            return info.FileMajorPart + "." + info.FileMinorPart + "." + info.FileBuildPart;
        }
    }
}
