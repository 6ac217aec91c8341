// The text of the manuals. Edit here: --help and the manual pages are made
// from it (see Manual.h).
#include "Manual.h"

namespace korvane::manual {

namespace {

Section Commands()
{
    Section s{"COMMANDS", true, {}, {}, {}, {}};
    s.Items = {
        {"--version", "Prints the program's version and the versions of the media libraries."},
        {"--help", "Prints a summary of the commands and options."},
        {"categories", "Lists the profile categories, in order."},
        {"profiles [--category NAME] [--names]",
         "Lists the profiles (name, category, extension): the catalog and your custom profiles. "
         "-c NAME is short for --category NAME; NAME is matched ignoring case. --names prints only the "
         "names, "
         "one a line, for scripts and shell completion."},
        {"probe FILE",
         "Shows the first video and audio stream of a media file; exit status 1 for a file that is "
         "not media."},
        {"dvd PATH",
         "Lists the titles of a DVD (number, duration, chapters, angles); PATH is a drive, a VIDEO_TS "
         "folder or an ISO image."},
        {"convert SOURCE... [options]",
         "Converts every source on a job of its own. A source dvd:PATH is a DVD title (drive, VIDEO_TS "
         "folder or "
         "ISO image, with --title). A folder needs --recursive. A source wavcap: records 16-bit PCM from the "
         "default ALSA capture device, wavcap:NAME from the ALSA device NAME, at "
         "AudioOptions.AudioSampleRate "
         "(default 44100) with AudioOptions.AudioChannels (default 1); --end SECONDS ends the recording, "
         "Ctrl+C "
         "too."},
        {"watch DIR... -p NAME -o DIR [options]",
         "Watches folders and converts every media file that appears in them, once, into the output folder "
         "(see the section on watch folders)."},
    };
    return s;
}

Section ConvertOptions()
{
    Section s{"OPTIONS OF CONVERT", true, {}, {}, {}, {}};
    s.Items = {
        {"-p, --profile NAME",
         "Applies a profile by its name, ignoring case (see profiles). An unknown name is "
         "refused with the names that come close."},
        {"-o, --output PATH", "One source: the output file, or an existing folder. Several sources or a "
                              "folder: the output folder, "
                              "created when missing. Without -o the output goes to the configured output "
                              "folder, named after the source "
                              "with the profile's extension."},
        {"-j, --jobs N", "Runs at most N jobs at once (default: one per processor)."},
        {"-r, --recursive",
         "Takes the media files of folder sources and of their subfolders, keeping the "
         "subfolders under the output folder. Files that are not media are skipped with a line."},
        {"--set PATH=VALUE",
         "Sets an option by its path, for example VideoOptions.VideoStreamCopy=1 or "
         "AudioOptions.Bitrate=128000 (lists: lines separated by |). Applied after the profile, "
         "so it wins over it. See SETTINGS."},
        {"--option NAME=VALUE", "An encoder or muxer option, repeatable; applied after the profile."},
        {"--format NAME", "The output container format (matroska, mp4, avi, ...)."},
        {"--start SECONDS", "Start position in the sources."},
        {"--end SECONDS", "End position in the sources."},
        {"--filter TEXT",
         "The video filter description (see FILTER DESCRIPTIONS). synth=SCRIPT runs a Lua script "
         "on every picture; write the script's commas as |."},
        {"--title N", "The DVD title to convert (dvd: sources)."},
        {"--chapters A-B", "The DVD chapter range (default: all)."},
        {"--angle K", "The DVD angle (default 1)."},
        {"--overwrite", "Replaces existing output files; without it such a job fails and the others go on."},
        {"--resume",
         "Carries on an output left by a stopped, failed or killed run of the same source with the same "
         "settings, converting only the rest from its last key picture (sound alone: its last whole audio "
         "frames). With no output the job converts normally; an output with no record of such a run, or one "
         "of another source, a source changed since, other settings or another window, is refused and left "
         "as it is. MP4/MOV/3GP outputs of a killed run and two-pass profiles start over, with a log line. "
         "--overwrite still starts over."},
        {"-q, --quiet", "No progress lines; only failures are printed."},
        {"--json", "Prints one JSON object per job on standard output when it ends: source, target, profile, "
                   "status (completed, failed or stopped), error, duration, converted_duration, elapsed, "
                   "input_size, output_size."},
        {"--log FILE", "Appends every job's log lines to FILE."},
    };
    s.After = {
        "On a terminal every running job has a live line (percent, speed as a multiple of real time, "
        "elapsed and remaining time, output size, bit rate); otherwise plain lines are printed every 2 "
        "seconds."};
    return s;
}

Section WatchFolders()
{
    Section s{"WATCH FOLDERS", true, {}, {}, {}, {}};
    s.Paragraphs = {
        "watch DIR... -p NAME -o DIR [--recursive] [--category NAME] [-j N] [--once] converts every media "
        "file "
        "that appears in the folders, once, with the profile NAME into the output folder, named after the "
        "source "
        "with the profile's extension. The folders are scanned at start, then followed through the system's "
        "notifications of file changes. A file is taken when its size and modification time have stayed the "
        "same "
        "for a few seconds, so files still being copied are not taken. Hidden files and names ending in "
        ".part, "
        ".crdownload, .tmp or ~ are left alone. Files that are not media are skipped with a line.",
        "What was converted is recorded in $XDG_STATE_HOME/korvane/watch.json (path, size, modification "
        "time, "
        "result). A restart converts what arrived while the watch was not running and never converts a file "
        "twice. A file that failed is tried again only when it changes. Ctrl+C or SIGTERM stops the running "
        "jobs "
        "as the Stop button does; the next start converts those files again, replacing their partial "
        "outputs.",
        "A folder that disappears is reported, and the watch goes on when it comes back. The options of "
        "convert "
        "(--set, --option, --filter, --json, --log, --overwrite, --quiet, ...) apply to every job. Options "
        "only "
        "watch has:"};
    s.Items = {
        {"--once",
         "Converts what is in the folders and not yet converted, then exits: for cron jobs and systemd "
         "timers."},
        {"--category NAME",
         "Records every completed conversion in the desktop program's history, in the history "
         "category NAME (created under My Conversions when missing)."},
        {"--stable SECONDS", "How long a file must keep its size and time before it is taken (default 3)."},
    };
    s.After = {"The package ships systemd user unit examples in /usr/share/doc/korvane/examples."};
    return s;
}

Section ExitStatus()
{
    Section s{"EXIT STATUS", true, {}, {}, {}, {}};
    s.Items = {
        {"0", "Every job completed (and the reporting commands succeeded)."},
        {"1", "A job failed, or probe or dvd could not read their source."},
        {"2", "The command line was refused (unknown option, bad value, unknown profile)."},
        {"130",
         "Interrupted by SIGINT (Ctrl+C) or SIGTERM: every job was stopped cleanly, leaving playable files. "
         "A second Ctrl+C aborts at once. A watch that runs without --once ends this way."},
    };
    return s;
}

Section Settings()
{
    Section s{"SETTINGS", false, {}, {}, {}, {}};
    s.Paragraphs = {
        "--set PATH=VALUE sets one published option of the conversion by its path. Numbers are "
        "plain, switches take 1 or 0 (true or false), lists take their lines separated by |. The paths "
        "people use most:"};
    s.Items = {
        {"VideoOptions.VideoStreamCopy=1", "Copies the video stream unchanged."},
        {"AudioOptions.AudioStreamCopy=1", "Copies the audio stream unchanged."},
        {"VideoOptions.EncoderVideoCodecName=NAME",
         "The video encoder: libx264, mpeg4, mpeg2video, libvpx, ..."},
        {"VideoOptions.Bitrate=N", "The video bit rate in bits per second."},
        {"VideoOptions.FrameWidth=N, VideoOptions.FrameHeight=N", "The picture size."},
        {"VideoOptions.FrameRate.num=N, VideoOptions.FrameRate.den=N", "The frame rate as a fraction."},
        {"VideoOptions.Deinterlace=1", "Deinterlaces the pictures first."},
        {"VideoOptions.VideoDisable=1", "Leaves the video out."},
        {"AudioOptions.EncoderAudioCodecName=NAME",
         "The audio encoder: aac, libmp3lame, ac3, pcm_s16le, ..."},
        {"AudioOptions.Bitrate=N", "The audio bit rate in bits per second."},
        {"AudioOptions.AudioSampleRate=N", "The sample rate in Hz."},
        {"AudioOptions.AudioChannels=N", "The number of channels."},
        {"AudioOptions.AudioVolume=N", "The volume; 256 leaves it unchanged, 512 doubles it."},
        {"AudioOptions.AudioDisable=1", "Leaves the sound out."},
        {"SubtitleOptions.SubtitleDisable=1", "Leaves the subtitles out."},
        {"FilterOptions.VideoFilters=TEXT", "The video filter description, as --filter."},
        {"MetaData=KEY=VALUE|KEY=VALUE", "Metadata of the output, such as title=Holiday|artist=Me."},
        {"OutputFormat=NAME", "The container format, as --format."},
    };
    return s;
}

Section Filters()
{
    Section s{"FILTER DESCRIPTIONS", false, {}, {}, {}, {}};
    s.Paragraphs = {
        "A video filter description (--filter, FilterOptions.VideoFilters, and the filter dialogs of the "
        "desktop "
        "program) is a list of elements joined by commas, applied in order after the picture is scaled. The "
        "elements:"};
    s.Items = {
        {"vflip, hflip", "Flips the picture upside down, or left to right."},
        {"negate", "The negative picture."},
        {"rotate=DEGREES", "Turns the picture clockwise by whole degrees; the canvas grows to hold the whole "
                           "picture and the corners are black. 90, 180 and 270 turn without loss."},
        {"drawbox=X:Y:WIDTH:HEIGHT:COLOR", "A box of COLOR (a name or 0xRRGGBB) at X, Y."},
        {"movie=0:png:PATH [wm];[in][wm] overlay=X:Y:1 [out]", "A logo: the PNG picture PATH drawn at X, Y."},
        {"drawtext=fontfile='FONT'#text='TEXT'#x=X#y=Y#fontsize=S#fgcolor=0xRRGGBBAA#bgcolor=0xRRGGBBAA",
         "Text drawn with the font file FONT at X, Y in S points, in the colour fgcolor on a box of bgcolor "
         "(an AA "
         "of 00 draws no box). The fields are separated by #. TEXT is drawn literally: % and quotes need no "
         "escaping; \\n is a line break."},
        {"ass=filename$FILE#font$FONT#color$0xRRGGBB00[#codepage$CP]",
         "Subtitles from the file FILE (SubRip, SSA or ASS) burnt into the picture with the font file FONT "
         "in the "
         "colour RRGGBB; CP names the text's character set when it is not UTF-8."},
        {"synth=SCRIPT",
         "A Lua 5.4 script run on every picture, in a sandbox. The script runs up to the next "
         "comma, so write its commas as |."},
    };
    s.After = {
        "Escaping: in PATH, FONT and FILE every backslash is written twice (\\\\); no other character needs "
        "escaping, since the program escapes paths and texts itself before it builds the filter graph, so no "
        "character of a name or a text changes the graph. Any other element is passed to the media library's "
        "filter graph as it is, in that library's own syntax (for example scale=640:-2 or "
        "eq=brightness=0.1)."};
    return s;
}

Section Files()
{
    Section s{"FILES", false, {}, {}, {}, {}};
    s.Items = {
        {"$XDG_CONFIG_HOME/KorvaneSoft/VelquistConfig.Xml",
         "The settings: output folder, threads per job, priority (XDG_CONFIG_HOME is ~/.config when unset)."},
        {"$XDG_CONFIG_HOME/KorvaneSoft/VelquistProfiles.ini", "Your custom profiles; the command line never "
                                                              "rewrites them."},
        {"$XDG_CONFIG_HOME/KorvaneSoft/Velquist/av.cfg", "The history database of the desktop program."},
        {"$XDG_STATE_HOME/korvane/watch.json",
         "The record of the watch folders (XDG_STATE_HOME is ~/.local/state "
         "when unset)."},
    };
    return s;
}

} // namespace

Page CliPage()
{
    Page p;
    p.Name = QStringLiteral("korvane-cli");
    p.Summary = QStringLiteral("convert audio and video files from the command line");
    p.Synopsis = {"COMMAND [options]", "convert SOURCE... [options]",
                  "watch DIR... -p NAME -o DIR [--recursive] [--category NAME] [-j N] [--once]"};
    Section description{"DESCRIPTION", false, {}, {}, {}, {}};
    description.Paragraphs = {"korvane-cli converts audio and video files with the same engine, profiles and "
                              "settings as the desktop "
                              "program korvane(1). It lists the profiles and categories, probes files and "
                              "DVDs, converts sources in "
                              "parallel jobs, and watches folders to convert the files that arrive in them."};
    Section examples{"EXAMPLES", false, {}, {}, {}, {}};
    examples.Example = {
        "korvane-cli profiles --category iphone",
        "korvane-cli convert clip.avi -p \"Normal AVI (*.avi)\"",
        "korvane-cli convert clip.avi -p \"matroska video\" -o out.mkv",
        "korvane-cli convert a.mp4 b.mp4 c.ts -j 2 -o converted/ -p \"MPEG-2 (*.mpg)\"",
        "korvane-cli convert ~/Videos --recursive -o converted/ \\",
        "    --set VideoOptions.VideoStreamCopy=1 --set AudioOptions.AudioStreamCopy=1 --json",
        "korvane-cli convert in.mp4 -o out.mp4 --filter 'rotate=90,drawbox=10:10:100:50:red'",
        "korvane-cli convert in.mp4 -o out.mp4 \\",
        "    --filter \"drawtext=fontfile='/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf'#text='It's "
        "100%'#x=10#y=10#fontsize=24#fgcolor=0xFFFFFFFF#bgcolor=0x00000080\"",
        "korvane-cli convert in.mp4 -o out.mp4 --filter 'synth=frame:fill(0|10|10|100|50|235)'",
        "korvane-cli convert dvd:/dev/sr0 --title 1 --chapters 2-4 -p \"matroska video\"",
        "korvane-cli convert wavcap: -o voice.mp3 --end 10",
        "korvane-cli watch ~/Videos/Incoming -p \"matroska video\" -o ~/Videos/Converted --recursive",
        "korvane-cli watch ~/Downloads -p \"AAC Audio\" -o ~/Music/New --once --json"};
    Section seeAlso{"SEE ALSO", false, {"korvane(1), systemd.unit(5), crontab(5)"}, {}, {}, {}};
    Section more{"MORE",
                 true,
                 {"The manual page korvane-cli(1) describes the --set paths, the filter "
                  "descriptions and the files, with examples."},
                 {},
                 {},
                 {},
                 true};
    p.Sections = {description, Commands(), ConvertOptions(), WatchFolders(), ExitStatus(), Settings(),
                  Filters(),   examples,   Files(),          more,           seeAlso};
    return p;
}

Page DesktopPage()
{
    Page p;
    p.Name = QStringLiteral("korvane");
    p.Summary = QStringLiteral("convert audio and video files for your devices");
    p.Synopsis = {"[FILE...]", "--version", "--help"};
    Section description{"DESCRIPTION", true, {}, {}, {}, {}};
    description.Paragraphs = {
        "korvane is the desktop program of the Korvane Video Converter. Each FILE opens the new conversion "
        "dialog, where a profile and settings are chosen; the conversions run as tasks in the main window, "
        "several at once, and finished ones are kept in the history, in categories of your own. Only one "
        "korvane runs per user: a second start hands its files to the running program and exits, which is "
        "how a "
        "file manager's \"Open with\" reaches it.",
        "Options, Watch folders lists folders whose new media files are converted with a profile into an "
        "output "
        "folder while the program runs; their conversions appear under Converting like any other and go into "
        "the chosen history category."};
    Section options{"OPTIONS", true, {}, {}, {}, {}};
    options.Items = {{"FILE...", "Opens the new conversion dialog with the files."},
                     {"--version", "Prints the version."},
                     {"--help", "Prints a summary of the options."}};
    Section keys{"KEYS",
                 false,
                 {"In the main window:"},
                 {{"Ctrl+N", "New Conversion: opens the new conversion dialog."},
                  {"Ctrl+R", "Start Task: converts the selected tasks from the beginning, or resumes a paused one."},
                  {"Ctrl+P", "Pause Task."},
                  {"Ctrl+.", "Stop Task: the output stays playable."},
                  {"Ctrl+Shift+R",
                   "Resume Task: carries on a stopped or failed task from where its output ends, when the output "
                   "was left by a run of the same source with the same settings (also after the program was "
                   "closed or killed). When it cannot, the action's tooltip says why."},
                  {"Delete", "Deletes the selected tasks, asking first; a target that another task names is kept."},
                  {"F2", "Edits the selected history category."},
                  {"Ctrl+Q", "Quits. With tasks running it asks first; they are stopped as Stop Task does and stay under Converting."}},
                 {},
                 {}};
    Section exit{"EXIT STATUS",
                 false,
                 {},
                 {{"0", "The program ended normally, or handed its files over."},
                  {"1", "The history database could not be opened."},
                  {"2", "An unknown option."}},
                 {},
                 {}};
    Section examples{
        "EXAMPLES", false, {}, {}, {"korvane", "korvane ~/Videos/holiday.mts", "korvane --version"}, {}};
    Section seeAlso{"SEE ALSO", false, {"korvane-cli(1)"}, {}, {}, {}};
    p.Sections = {description, options, keys, exit, examples, Files(), seeAlso};
    return p;
}

} // namespace korvane::manual
