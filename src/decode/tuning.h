// The converted-file decoder's thresholds, each tuned by measurement with
// bench/decode_accuracy.py (random texts, every waveform, conversions and channels) unless its
// note says otherwise.
#pragma once

#include <cstddef>

namespace wavcreate::tuning {

// A clock differs from 2000 per second by at most this fraction: sound cards differ by a
// hundred parts in a million, a deliberate speed change of 0.2 % still decodes, with room.
constexpr double clock_range = 0.006;

// Where the tones' phases fix the clock, it moves at most this far from the one their
// measured frequencies give: tones of many frequencies agree on one clock only, but a few
// agree as well, each at its own phase or half a turn from it, at clocks hundreds of parts in
// a million away (four tones under noise 0.2 % fast were set 450 ppm off, two read as their
// negatives), while their frequencies put the clock within some tens.
constexpr double few_tones_clock_reach = 1e-4;

// The first seconds of sound in which the tone length, the clock and the grid are sought; the
// rest of the file is followed tone by tone.
constexpr double grid_search_seconds = 30.0;
constexpr double first_search_seconds = 16.0;

// A tone length whose comb of tone starts fits this fraction of the best one's is tried by
// matching.
constexpr double comb_candidate_share = 0.4;

// A tone length cut in two matches its halves as well as whole tones: of the lengths that
// match this share of the best one's sound or more and are whole multiples of its, the
// longest is taken. Tones of three seconds and more match a few percent less than their
// halves: for them, the second share.
constexpr double cut_tones_share = 0.95;
constexpr double cut_long_tones_share = 0.9;

// A tone length a whole multiple of the grid's whose comb matches this share of the best one's
// or more is read too where the grid's reading leaves doubt: a square's slow tones 0.2 % off
// the library's clock match 92 % as well whole as in fifths.
constexpr double longer_length_share = 0.85;

// A tone length a whole multiple of the grid's is taken when its codes match this share of
// the sound that the grid's match, or more: a tone cut in pieces matches as well as whole when
// its pieces are tones of the same code, whole tones match better.
constexpr double longer_reading_share = 0.98;

// A reading whose decided codes match less than this share of the sound leaves doubt of its
// tone length (a clean conversion's match 99 % and more; noise as strong as the tones takes
// half, and then every length is tried).
constexpr double sure_reading_share = 0.9;

// Below this share of the sound matched by the decided codes, the reading is not the file's
// (noise as strong as the tones leaves the codes half of it).
constexpr double least_decided_share = 0.35;

// Below this share of the closing silent tone in the file, a doubtful reading of a few tones
// is not the file's: a converter keeps the length, or adds to it.
constexpr double least_closing_share = 0.9;

// A doubtful reading is read at another tone length only where the sound from its start holds
// this many of that length's tones: a character's and half of its closing silence.
constexpr double least_tones_held = 1.5;

// Before a doubtful reading's first tone, at least this long, more power than this many times
// the closing silent tone's and this share of a sounding tone's is sound left unread.
constexpr double unread_lead_seconds = 0.01;
constexpr double unread_lead_over_silence = 1.3;
constexpr double unread_lead_share = 0.2;

// A file of this many tones or fewer may hide its band's edge, agree on several first starts
// and show its waveform poorly: it alone is read at each edge resamplers cut at, from each
// such start and in each waveform. A longer file shows them on its own, and is not read
// dozens of times over.
constexpr std::size_t few_tones = 16;

// A file of this many tones or fewer (a text of up to five characters) is looked at from where
// its sound rises too, at every clock its tones allow: under noise, texts of two to four
// characters were read as their codes' negatives or at a clock 0.05 % off, and three square
// tones near 1000 Hz, clean, from a grid's start 5 samples off. Of those starts and
// clocks, the few whose first passes match the most of the sound are read whole (on 160 short
// texts under noise 0.2 % fast, four read as many right, 127, as all of them did, 128).
constexpr std::size_t rise_reading_tones = 6;
constexpr std::size_t rise_readings = 4;

// The most other first starts, where the tones' phases agree about as well as at the grid's,
// that are read too; only where the decided codes match less than this share of the sound (a
// clean conversion read at its tones' starts matches 99.5 % and more). One is taken where its
// codes match this share of the sound more: a start half a period off costs a few percent; in
// a room or under noise, starts the phases agree on differ by a few hundredths of a percent.
constexpr std::size_t most_other_starts = 8;
constexpr double aligned_reading_share = 0.99;
constexpr double other_start_gain = 0.005;

// Of a text of up to five characters, the other starts are looked at where its codes match less
// than this share of the sound: a sine's or a triangle's after a resampler, FLAC or MP3 match
// 99.8 % or more (a square's and a sawtooth's often less), but `]¿'` behind 80 ms of silence,
// its tones near 1000 Hz read as their negatives from a start a sample early, 99.2 %.
constexpr double clean_reading_share = 0.998;

// A reading of a few tones whose first tone starts this share of a tone or more before the
// file's start is read in other ways too.
constexpr double early_start_share = 0.01;

// A reading in doubt whose decided codes leave over this share of their tones' energy or more,
// and this many times the share of a sounding tone's that the silent tone at the text's end
// holds, does not fit the file's tones: none of it is decided. A square whose top band a
// resampler cut leaves a few percent over; noise leaves as much over as it puts into the
// silent tone (at most twice as much, measured); codes read from a start a period off, or
// misread through a room's smearing, three to thirty times as much.
constexpr double misfit_share = 0.1;
constexpr double misfit_over_silence = 2.5;

// Where the silent tone at the text's end holds this share of a sounding tone's energy or
// more, the file is noisy (6 dB of noise puts 0.09 to 0.2 in it; a room's ringing up to 0.15,
// but more than 0.08 only where its codes fit well): its decided codes that leave over, on
// average per sample, this many times what the silent tone holds do not fit their tones.
// Under noise, codes that fit leave 1.0 to 1.15 times as much (1.8 for two tones under noise
// as strong as themselves); the few tones of a short text read at a clock a little off, as
// codes' negatives or pairs' other codes, 1.5 to 2.5 times.
constexpr double noisy_silence_share = 0.09;
constexpr double noisy_leftover_over_silence = 1.45;

// Where the silent tone at the text's end holds this share of a sounding tone's energy or more
// (noise, or a room ringing into it), a decided code that leaves over more than
// `ringing_misfit_share` of a sounding tone's energy, and more than `misfit_over_silence` times
// what the silent tone holds, is undecided. In a room, a code read as its negative or as its
// pair's other code (the room having turned its phase) left 0.4 to 0.47 of a tone over, codes
// that fit at most 0.25; under noise, codes that fit leave up to 0.57, but at most 1.1 times
// what the silent tone holds. Clean conversions leave the silent tone all but empty.
constexpr double heard_silence_share = 0.01;
constexpr double ringing_misfit_share = 0.3;

// A sine's or a triangle's reading of `room_phase_tones` tones or fewer (the closing silent one
// among them) is read again, or else decides nothing, where a room rings into that silent
// tone: from `converter_ringing_seconds` after its start (most converters' ringing, up to
// 0.0006 of a sounding tone's energy, is over by then; a resampler as steep as `rate -v -b
// 99.7` rings on longer after a tone near 1000 Hz) to its middle, it holds
// `room_silence_share` of a sounding tone's power or more, and `ringing_decay` times the power
// of its second half. sox's reverberation rings there 0.007 to 0.05 of a tone's power, 2.5 to
// 13.5 times its late power; noise fills both halves alike; two clean tones 0.2 % slow left
// 0.0003 there, dying away.
constexpr std::size_t room_phase_tones = 6;
constexpr double converter_ringing_seconds = 0.05;
constexpr double room_silence_share = 0.002;
constexpr double ringing_decay = 2.0;

// A sine's or a triangle's reading of `room_phase_tones` tones or fewer is read again from the
// first tone's onset: its first `onset_samples` (20 ms, before a room's first echo) and the
// `onset_silence` samples before them, matched against its code's tone and its negative at
// starts from `onset_search` work samples before where the sound rises to `onset_past_rise`
// after (where the sound starts with the file, the rise is found up to two samples late); where
// none matches well enough, on to `onset_past_early_rise` after (behind silence, a resampler's
// ringing before the tone put the rise 7 samples early). The start is taken where they match
// `onset_likeness` or more, as the sound alone does (0.991 or more after sox's reverberation
// and the channels' resampler; a room whose echoes come from the first millisecond on, as the
// test suite's, blurs it below 0.975), and the other sign's best match is at least
// `onset_sign_gap` less (a tone near 1000 Hz matched its negative half a period away within
// 0.0005 of its code).
constexpr int onset_samples = 40;
constexpr int onset_silence = 4;
constexpr double onset_search = 4.0;
constexpr double onset_past_rise = 0.5;
constexpr double onset_past_early_rise = 8.0;
constexpr double onset_likeness = 0.985;
constexpr double onset_sign_gap = 0.003;

// A decided code that matches less than this share of what the second pass heard of its tone,
// however far ahead of the next, is undecided, and in a file of a few tones nothing is: the
// reading is not the file's. Three square tones near 1000 Hz after a resampler that cut their
// fundamentals read, at a wrong length, as codes of which the first matched 3 % of its tone.
constexpr double least_tone_share = 0.1;

// How many seconds of sound the candidate tone lengths are compared over.
constexpr double compare_seconds = 8.0;

// The channel's filter is measured on tones of this many of its bands, 16 Hz wide, or more;
// on fewer, only its gain.
constexpr int least_filter_bands = 6;

// Silence before the first tone shorter than this share of a tone is a converter's delay,
// longer is spaces: converters add tens of milliseconds, a tone lasts 0.3 s or more.
constexpr double leading_delay_share = 0.7;

// Below this share of its energy matched by any code, a tone is silence in the first pass; so
// is a tone with less than the second share of the loudest tone's energy, whatever it matches
// (a codec's noise floor in a silent tone held a few billionths of a tone's energy; what sox's
// resampler leaves of a tone it removed holds a three-hundredth, and matches nothing anyway).
constexpr double silent_match_share = 0.12;
constexpr double faint_tone_share = 0.001;

// The whole file: below this share of its sound matched by tones, it is not a file of tones.
// White noise matches about 2 %, tones under noise as strong as themselves 30 % (a sawtooth,
// whose fundamental is 61 % of it) to 50 % (a sine).
constexpr double tones_share = 0.15;

// A tone's level against the channel's, as the second pass lets it stray: a room's
// reverberation raises and lowers single frequencies by this much. No lower: the top of a
// square that a resampler cut is its third harmonic, at a third of its level, and another
// code's tone.
constexpr double lowest_tone_gain = 0.5;
constexpr double highest_tone_gain = 2.0;

// Against the middle of the sounding tones' energies: a tone decided silent but louder than
// this is undecided (under noise as strong as the tones, silence holds half), and faint tones
// after the text (a room's ringing, a codec's padding) end it below this.
constexpr double silence_share = 0.65;
constexpr double tail_share = 0.1;

// A character is decided when the likelihood of the best code beats the next by this many
// nats (a factor of e^12, about 160 000).
constexpr double decided_margin = 12.0;

} // namespace wavcreate::tuning
