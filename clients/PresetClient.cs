// A front-end's client for preset-nvidia.exe and preset-amd.exe, in one C# file: starts a
// program (no console window, arguments quoted by the Windows rules, standard output and
// error read as bytes, a time limit, cancellable), reads its one result line and exit code,
// and turns them into an outcome, the action the integration guide prescribes for it and
// a text to show in English or Portuguese; reads a program's version from its version
// resource. The base class library only (System.Diagnostics.Process, FileVersionInfo,
// tasks): nothing else to install. Builds with C# 6 and later, for .NET Framework 4.5 and
// later, .NET 6 and later, and Mono.
//
//     PresetResult r = await PresetClient.RunAsync(PresetProgram.Nvidia,
//         @"C:\Program Files\App\preset-nvidia.exe", new[] { "restore", backupPath },
//         cancellationToken);
//     if (!r.KeepBackupPath) { /* forget backupPath: nothing is left to undo */ }
using System;
using System.Collections.Generic;
using System.ComponentModel;
using System.Diagnostics;
using System.IO;
using System.Text;
using System.Threading;
using System.Threading.Tasks;

namespace GpuPresets
{
    /// <summary>The two programs.</summary>
    public enum PresetProgram
    {
        /// <summary>preset-nvidia.exe, vendor word "NVIDIA".</summary>
        Nvidia,
        /// <summary>preset-amd.exe, vendor word "AMD".</summary>
        Amd,
    }

    /// <summary>The command a run carries out, from its first argument.</summary>
    public enum PresetCommand
    {
        /// <summary>"status".</summary>
        Status,
        /// <summary>"apply".</summary>
        Apply,
        /// <summary>"restore".</summary>
        Restore,
        /// <summary>Anything else, or no argument.</summary>
        Other,
    }

    /// <summary>What a run came to; PresetClient.Name gives the guide's name
    /// ("apply-partial").</summary>
    public enum PresetOutcome
    {
        /// <summary>Status: the driver can be used; offer the presets.</summary>
        Supported,
        /// <summary>Apply done.</summary>
        Applied,
        /// <summary>Apply exit 21: partly applied, or (changed 0) nothing, when the backup could
        /// not be saved, was busy or an elevated run refused it.</summary>
        ApplyPartial,
        /// <summary>NVIDIA apply exit 20: nothing changed (the same reasons).</summary>
        ApplyNotSaved,
        /// <summary>Restore done; the program deleted the backup.</summary>
        Restored,
        /// <summary>No backup at the path.</summary>
        NothingToRestore,
        /// <summary>Restore exit 22 (with 0 and 0 also: unreadable, busy or refused path): the
        /// backup stays for another restore.</summary>
        RestoreIncomplete,
        /// <summary>Exit 10 of status or apply: nothing changed.</summary>
        Unsupported,
        /// <summary>Exit 10 of restore: restore again once the driver is back.</summary>
        UnsupportedBackupKept,
        /// <summary>Exit 2 or 3: the front-end passed a wrong command line.</summary>
        CallerBug,
        /// <summary>The program could not be started: wrong path or launcher.</summary>
        NotStarted,
        /// <summary>Ended by the client past its time limit.</summary>
        TimedOut,
        /// <summary>The same during a restore.</summary>
        RestoreTimedOut,
        /// <summary>Ended by the client because its caller cancelled the run.</summary>
        Cancelled,
        /// <summary>The same during a restore.</summary>
        RestoreCancelled,
        /// <summary>Crashed, killed, or an answer the programs never give.</summary>
        Failed,
        /// <summary>The same during a restore.</summary>
        RestoreFailed,
    }

    /// <summary>What the front-end does after an outcome.</summary>
    public enum PresetAction
    {
        /// <summary>Nothing is left to do about the run.</summary>
        Done,
        /// <summary>Tell the user; the backup is safe; try again later.</summary>
        TellUser,
        /// <summary>The backup still holds originals: run restore again later.</summary>
        RetryRestoreLater,
        /// <summary>Tell the user the GPU or driver is not supported or not available.</summary>
        TellUnsupported,
        /// <summary>The front-end's command line, path or installation is wrong.</summary>
        ReportBug,
    }

    /// <summary>How a run ended.</summary>
    public enum RunEnded
    {
        /// <summary>With one result line, whatever it says.</summary>
        Answered,
        /// <summary>Not at all: it could not be started.</summary>
        NotStarted,
        /// <summary>Ended by the client past its time limit.</summary>
        TimedOut,
        /// <summary>Ended by the client because its caller cancelled it.</summary>
        Cancelled,
        /// <summary>By itself, without a line (a crash, a kill).</summary>
        NoLine,
        /// <summary>Unknown but for its exit code (PresetClient.ClassifyExitCode).</summary>
        ExitCodeOnly,
    }

    /// <summary>The languages of the outcomes' texts.</summary>
    public enum PresetLanguage
    {
        /// <summary>English.</summary>
        English,
        /// <summary>Portuguese.</summary>
        Portuguese,
    }

    /// <summary>The five fields of a result line.</summary>
    public sealed class ResultLine
    {
        /// <summary>"ok", "error", "unsupported" or "nothing".</summary>
        public string Kind { get; internal set; }
        /// <summary>"NVIDIA" or "AMD".</summary>
        public string Vendor { get; internal set; }
        /// <summary>The first count; information only.</summary>
        public ulong Supported { get; internal set; }
        /// <summary>The second count; information only.</summary>
        public ulong Changed { get; internal set; }
        /// <summary>The rest of the line: a fixed Portuguese sentence without accents.</summary>
        public string Message { get; internal set; }
    }

    /// <summary>What a run did: Exited with ExitCode and the bytes of standard output and
    /// error, or NotStarted, TimedOut or Cancelled (with what standard error held by
    /// then).</summary>
    public sealed class PresetRun
    {
        /// <summary>How the run ended.</summary>
        public enum Status
        {
            /// <summary>By itself, with an exit code.</summary>
            Exited,
            /// <summary>It could not be started.</summary>
            NotStarted,
            /// <summary>Ended by the client past its time limit.</summary>
            TimedOut,
            /// <summary>Ended by the client because its caller cancelled it.</summary>
            Cancelled,
        }

        /// <summary>How the run ended.</summary>
        public Status How { get; set; } = Status.NotStarted;
        /// <summary>The exit code, when How is Exited.</summary>
        public int ExitCode { get; set; }
        /// <summary>The bytes of standard output, when How is Exited.</summary>
        public byte[] Output { get; set; } = new byte[0];
        /// <summary>The bytes of standard error.</summary>
        public byte[] Errors { get; set; } = new byte[0];
    }

    /// <summary>The outcome of a run and what to do about it.</summary>
    public sealed class PresetResult
    {
        /// <summary>What the run came to.</summary>
        public PresetOutcome Outcome { get; internal set; } = PresetOutcome.Failed;
        /// <summary>What the front-end does next.</summary>
        public PresetAction Action { get; internal set; } = PresetAction.TellUser;
        /// <summary>False only when nothing is left to undo: forget the backup path.</summary>
        public bool KeepBackupPath { get; internal set; } = true;
        /// <summary>How the run ended.</summary>
        public RunEnded Ended { get; internal set; } = RunEnded.NoLine;
        /// <summary>The program's exit code; null when it did not end by itself.</summary>
        public int? ExitCode { get; internal set; }
        /// <summary>The result line; null when the run printed none.</summary>
        public ResultLine Line { get; internal set; }
        /// <summary>What the program wrote to standard error, as UTF-8 text; never part of the
        /// line.</summary>
        public string Detail { get; internal set; } = "";

        /// <summary>The outcome's text for the user, in `language`.</summary>
        public string Text(PresetLanguage language)
        {
            return PresetClient.OutcomeText(Outcome, language);
        }
    }

    /// <summary>Starts the programs and classifies their answers.</summary>
    public static class PresetClient
    {
        /// <summary>The version of this client, the same as the programs' it was made
        /// with.</summary>
        public const string Version = "0.1.0";

        /// <summary>Longer than a run can take: a run waits up to 10 seconds for another run on
        /// the same backup path, and driver calls take a few seconds at most.</summary>
        public const int DefaultTimeoutMs = 60000;

        /// <summary>The extra argument that asks the programs to explain each failure on
        /// standard error.</summary>
        public const string DetailArgument = "--detail";

        /// <summary>More than one result line, or any detail, ever needs; what goes beyond is
        /// read and dropped, so that the program never blocks on a full pipe.</summary>
        const int MaxOutput = 64 * 1024;

        /// <summary>The vendor word of a program's result lines.</summary>
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
            ulong supported, changed;
            if (!ParseCount(values[2], out supported) || !ParseCount(values[3], out changed))
            {
                return null;
            }
            return new ResultLine { Kind = values[0], Vendor = values[1], Supported = supported,
                                    Changed = changed,
                                    Message = text.Substring(mark + ";message=".Length) };
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
                case PresetOutcome.RestoreCancelled:
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
        /// always complete, so keeping its path and restoring later is safe. What the run wrote
        /// to standard error comes back as Detail, never read for the outcome.</summary>
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
            else if (run.How == PresetRun.Status.Cancelled)
            {
                ended = RunEnded.Cancelled;
                outcome = restore ? PresetOutcome.RestoreCancelled : PresetOutcome.Cancelled;
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
            result.Detail = Encoding.UTF8.GetString(run.Errors ?? new byte[0]);
            return result;
        }

        /// <summary>The outcome of a run of which only the exit code is known, for example one
        /// started elevated with ShellExecuteEx and the "runas" verb, whose output cannot be
        /// read. Each exit code the programs give belongs to one kind of line, so the outcome is
        /// the line's, with one loss: restore's exit 0 reads as Restored also when there was
        /// nothing to restore (the action is the same). Ended is ExitCodeOnly.</summary>
        public static PresetResult ClassifyExitCode(PresetProgram program, PresetCommand command,
                                                    int exitCode)
        {
            string kind = exitCode == 0 ? "ok" : exitCode == 10 ? "unsupported" : "error";
            PresetResult result = Prescribe(
                OutcomeOf(program, command, exitCode, kind) ??
                (command == PresetCommand.Restore ? PresetOutcome.RestoreFailed
                                                  : PresetOutcome.Failed));
            result.Ended = RunEnded.ExitCodeOnly;
            result.ExitCode = exitCode;
            return result;
        }

        /// <summary>A text a front-end may show for an outcome, in English or
        /// Portuguese.</summary>
        public static string OutcomeText(PresetOutcome outcome, PresetLanguage language)
        {
            bool english = language == PresetLanguage.English;
            switch (outcome)
            {
                case PresetOutcome.Supported:
                    return english
                        ? "The graphics driver can be used. Choose a preset."
                        : "O driver de v\u00eddeo pode ser usado. Escolha um preset.";
                case PresetOutcome.Applied:
                    return english
                        ? "The preset was applied. The original settings are saved for a " +
                          "later restore."
                        : "O preset foi aplicado. As configura\u00e7\u00f5es originais " +
                          "est\u00e3o guardadas para restaurar depois.";
                case PresetOutcome.ApplyPartial:
                    return english
                        ? "The preset was applied only in part, or not at all. The " +
                          "original settings are saved; try again later."
                        : "O preset foi aplicado s\u00f3 em parte, ou n\u00e3o foi " +
                          "aplicado. As configura\u00e7\u00f5es originais est\u00e3o " +
                          "guardadas; tente de novo mais tarde.";
                case PresetOutcome.ApplyNotSaved:
                    return english
                        ? "Nothing was changed: the current settings could not be saved " +
                          "first. Try again later."
                        : "Nada foi alterado: n\u00e3o foi poss\u00edvel guardar antes as" +
                          " configura\u00e7\u00f5es atuais. Tente de novo mais tarde.";
                case PresetOutcome.Restored:
                    return english
                        ? "The original settings were restored."
                        : "As configura\u00e7\u00f5es originais foram restauradas.";
                case PresetOutcome.NothingToRestore:
                    return english
                        ? "There was nothing to restore."
                        : "N\u00e3o havia nada para restaurar.";
                case PresetOutcome.RestoreIncomplete:
                    return english
                        ? "Not every setting could be restored. The saved settings are " +
                          "kept; try restoring again later."
                        : "Nem todas as configura\u00e7\u00f5es puderam ser restauradas. " +
                          "As configura\u00e7\u00f5es guardadas foram mantidas; tente " +
                          "restaurar de novo mais tarde.";
                case PresetOutcome.Unsupported:
                    return english
                        ? "This graphics card or driver is not supported, or not " +
                          "available now. Nothing was changed."
                        : "Esta placa de v\u00eddeo ou este driver n\u00e3o \u00e9 " +
                          "compat\u00edvel, ou n\u00e3o est\u00e1 dispon\u00edvel agora. " +
                          "Nada foi alterado.";
                case PresetOutcome.UnsupportedBackupKept:
                    return english
                        ? "The graphics driver is not available, so nothing could be " +
                          "restored. The saved settings are kept; restore again once the " +
                          "driver is back."
                        : "O driver de v\u00eddeo n\u00e3o est\u00e1 dispon\u00edvel, " +
                          "ent\u00e3o nada p\u00f4de ser restaurado. As " +
                          "configura\u00e7\u00f5es guardadas foram mantidas; restaure de " +
                          "novo quando o driver voltar.";
                case PresetOutcome.CallerBug:
                    return english
                        ? "The program was started with a wrong command line. Please " +
                          "report this problem."
                        : "O programa foi iniciado com uma linha de comando errada. Por " +
                          "favor, informe este problema.";
                case PresetOutcome.NotStarted:
                    return english
                        ? "The program could not be started. Check the installation, and " +
                          "please report this problem."
                        : "N\u00e3o foi poss\u00edvel iniciar o programa. Verifique a " +
                          "instala\u00e7\u00e3o e, por favor, informe este problema.";
                case PresetOutcome.TimedOut:
                    return english
                        ? "The program took too long and was stopped. The original " +
                          "settings are safe; try again later."
                        : "O programa demorou demais e foi interrompido. As " +
                          "configura\u00e7\u00f5es originais est\u00e3o seguras; tente de" +
                          " novo mais tarde.";
                case PresetOutcome.RestoreTimedOut:
                    return english
                        ? "Restoring took too long and was stopped. The saved settings " +
                          "are kept; try restoring again later."
                        : "A restaura\u00e7\u00e3o demorou demais e foi interrompida. As " +
                          "configura\u00e7\u00f5es guardadas foram mantidas; tente " +
                          "restaurar de novo mais tarde.";
                case PresetOutcome.Cancelled:
                    return english
                        ? "Cancelled. Any setting already changed can still be restored."
                        : "Cancelado. Qualquer configura\u00e7\u00e3o j\u00e1 alterada " +
                          "ainda pode ser restaurada.";
                case PresetOutcome.RestoreCancelled:
                    return english
                        ? "Restoring was cancelled. The saved settings are kept; restore " +
                          "again later."
                        : "A restaura\u00e7\u00e3o foi cancelada. As " +
                          "configura\u00e7\u00f5es guardadas foram mantidas; restaure de " +
                          "novo mais tarde.";
                case PresetOutcome.Failed:
                    return english
                        ? "The program failed unexpectedly. The original settings are " +
                          "safe; try again later."
                        : "O programa falhou de forma inesperada. As " +
                          "configura\u00e7\u00f5es originais est\u00e3o seguras; tente de" +
                          " novo mais tarde.";
                case PresetOutcome.RestoreFailed:
                    return english
                        ? "Restoring failed unexpectedly. The saved settings are kept; " +
                          "try restoring again later."
                        : "A restaura\u00e7\u00e3o falhou de forma inesperada. As " +
                          "configura\u00e7\u00f5es guardadas foram mantidas; tente " +
                          "restaurar de novo mais tarde.";
                default:
                    return "";
            }
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

            public int Length
            {
                get
                {
                    lock (kept)
                    {
                        return (int)kept.Length;
                    }
                }
            }

            public byte[] Bytes()
            {
                lock (kept)
                {
                    return kept.ToArray();
                }
            }
        }

        /// <summary>Runs `exe` with `args`: no console window, standard input empty, standard
        /// output and error read while the program runs. A run past `timeoutMs`, or one
        /// cancelled through `cancellationToken`, is ended (safe, since no setting changes
        /// before its original stands in the backup file) and comes back as TimedOut or
        /// Cancelled, never as an exception. `launcher` (for example "/usr/lib/wine/wine64")
        /// starts the program where Windows does not; then a program file this process cannot
        /// see is not started, since a launcher answers a missing program with an exit code of
        /// its own. `detail` adds "--detail" after the arguments: the programs then explain each
        /// failure on standard error.</summary>
        public static async Task<PresetRun> RunPresetAsync(string exe, IList<string> args,
                                                           CancellationToken cancellationToken,
                                                           int timeoutMs = DefaultTimeoutMs,
                                                           string launcher = null,
                                                           bool detail = false)
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
            if (detail)
            {
                all.Add(DetailArgument);
            }
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
                var errors = new Drain(process.StandardError.BaseStream, MaxOutput);
                var clock = Stopwatch.StartNew();
                var exited = new TaskCompletionSource<bool>();
                process.EnableRaisingEvents = true;
                process.Exited += (sender, e) => exited.TrySetResult(true);
                if (process.HasExited)
                {
                    exited.TrySetResult(true);
                }
                var stopped = new TaskCompletionSource<PresetRun.Status>();
                using (var timer = new CancellationTokenSource(timeoutMs))
                using (timer.Token.Register(() => stopped.TrySetResult(PresetRun.Status.TimedOut)))
                using (cancellationToken.Register(
                           () => stopped.TrySetResult(PresetRun.Status.Cancelled)))
                {
                    await Task.WhenAny(exited.Task, stopped.Task).ConfigureAwait(false);
                }
                // A run that ended by itself as it was being given up on keeps its answer.
                if (!exited.Task.IsCompleted)
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
                    run.How = stopped.Task.Result;
                    run.Errors = errors.Bytes();
                    return run;
                }
                // Its output is in the pipes by now. Under Wine a pipe can stay open for
                // seconds after the program ended (the write end was handed on to Wine's own
                // processes), so a complete line is not waited past, nor standard error once it
                // has stopped growing for a few rounds.
                int seen = -1, still = 0;
                while (clock.ElapsedMilliseconds < timeoutMs)
                {
                    int length = errors.Length;
                    still = length == seen ? still + 1 : 0;
                    seen = length;
                    if ((output.Ended || EndsInLineBreak(output.Bytes())) &&
                        (errors.Ended || still >= 5))
                    {
                        break;
                    }
                    await Task.Delay(10).ConfigureAwait(false);
                }
                run.How = PresetRun.Status.Exited;
                run.ExitCode = process.ExitCode;
                run.Output = output.Bytes();
                run.Errors = errors.Bytes();
                return run;
            }
        }

        /// <summary>RunPresetAsync, waited for, without a way to cancel.</summary>
        public static PresetRun RunPreset(string exe, IList<string> args,
                                          int timeoutMs = DefaultTimeoutMs, string launcher = null,
                                          bool detail = false)
        {
            return RunPresetAsync(exe, args, CancellationToken.None, timeoutMs, launcher, detail)
                .GetAwaiter().GetResult();
        }

        static bool EndsInLineBreak(byte[] bytes)
        {
            return bytes.Length >= 2 && bytes[bytes.Length - 2] == '\r' &&
                   bytes[bytes.Length - 1] == '\n';
        }

        static PresetCommand CommandOfArguments(IList<string> args)
        {
            return args.Count == 0 ? PresetCommand.Other : CommandOf(args[0]);
        }

        /// <summary>RunPresetAsync, then Classify; the command is the first argument. A
        /// cancelled run completes the task with the outcome Cancelled (RestoreCancelled during
        /// a restore); the task never throws OperationCanceledException.</summary>
        public static async Task<PresetResult> RunAsync(PresetProgram program, string exe,
                                                        IList<string> args,
                                                        CancellationToken cancellationToken,
                                                        int timeoutMs = DefaultTimeoutMs,
                                                        string launcher = null,
                                                        bool detail = false)
        {
            PresetRun run = await RunPresetAsync(exe, args, cancellationToken, timeoutMs, launcher,
                                                 detail).ConfigureAwait(false);
            return Classify(program, CommandOfArguments(args), run);
        }

        /// <summary>RunPreset, then Classify; the command is the first argument.</summary>
        public static PresetResult RunAndClassify(PresetProgram program, string exe,
                                                  IList<string> args,
                                                  int timeoutMs = DefaultTimeoutMs,
                                                  string launcher = null, bool detail = false)
        {
            return Classify(program, CommandOfArguments(args),
                            RunPreset(exe, args, timeoutMs, launcher, detail));
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
